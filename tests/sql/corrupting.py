"""InChIs that corrupt the InChI library's memory, for the SQL tests."""
# Damaged InChIs on which the library's structure parser writes out of
# bounds (found under valgrind): in a database's own process they brought the
# host down; in a worker process they cost only that process.
CORRUPTING = [
    "InChI=1S/2C12H24O2.2C4H9.Sn/c2*1-2-3-4-5-6-7-8-9-10-11-12(13)14;2*1-3-4-2;"
    "/h992*2-11H2,1H3,(H,13,14);2*1,3-4H2,2H3;/q;;;;+2/p-2",
    "InChI=1S/fC7H5Cl2NO22/c8-5-1-4(3-10-12)7(11)6(9)2-5/h1-3,11-12H",
    "InChI=1/C8H6O4.Cu.2H2N/c9-7(10)5-3-1-2-4-6(5)8(11)12;;;5/h1-4H,(H,9,10)(H,11,12);;2*1H2"
    "/q;+4;2*-1/p-2/fC8H4Op.Cu.2H2N/9q-2;3m",
    "InChI=1/C15H16N2O3S/c1-10-5-7-11(8-6-10)21(18,19)20-15-9-13(16)12-3-2-4-14(12)17-;5"
    "/h5-94,2-4H2,1H3,(H2,16,17)/f/h16H2",
]
