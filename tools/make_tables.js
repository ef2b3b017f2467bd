// Builds the two example tables of examples/ from real structures of Debian's
// rdkit-data package, with InChI strings and keys computed by RDKit MinimalLib:
//
//   cd tools && npm install --no-package-lock && node make_tables.js ../examples
//
// pubchem-like.tsv: CID<TAB>InChI<TAB>InChIKey, no header, as PubChem's
//   CID-InChI-Key file; the CIDs are those of the PubChem records.
// chembl-like.tsv: chembl_id<TAB>canonical_smiles<TAB>standard_inchi<TAB>
//   standard_inchi_key under a header line, as ChEMBL's chemreps file; the
//   ids are the names the ChEMBL actives file gives its structures.
const fs = require('fs');
const path = require('path');
const initRDKitModule = require('@rdkit/rdkit');

const DATA = '/usr/share/RDKit';
const ROWS = 8;

initRDKitModule().then((rdkit) => {
  const outDir = process.argv[2] || '.';

  const pubchem = [];
  const sdf = fs.readFileSync(path.join(DATA, 'Projects/DbCLI/testData/pubchem.200.sdf'), 'utf8');
  for (const record of sdf.split('$$$$\n')) {
    if (pubchem.length === ROWS) break;
    const cid = /<PUBCHEM_COMPOUND_CID>[^\n]*\n(\d+)/.exec(record);
    const mol = cid && rdkit.get_mol(record);
    if (!mol || !mol.is_valid()) continue;
    const inchi = mol.get_inchi();
    pubchem.push([cid[1], inchi, rdkit.get_inchikey_for_inchi(inchi)].join('\t'));
    mol.delete();
  }
  fs.writeFileSync(path.join(outDir, 'pubchem-like.tsv'), pubchem.join('\n') + '\n');

  const chembl = ['chembl_id\tcanonical_smiles\tstandard_inchi\tstandard_inchi_key'];
  const smi = fs.readFileSync(path.join(DATA, 'Contrib/fraggle/data/ChEMBL_11265_actives.smi'),
                              'utf8');
  for (const line of smi.split('\n')) {
    if (chembl.length === ROWS + 1) break;
    const [smiles, id] = line.trim().split(/\s+/);
    const mol = id && rdkit.get_mol(smiles);
    if (!mol || !mol.is_valid()) continue;
    const inchi = mol.get_inchi();
    chembl.push([id, mol.get_smiles(), inchi, rdkit.get_inchikey_for_inchi(inchi)].join('\t'));
    mol.delete();
  }
  fs.writeFileSync(path.join(outDir, 'chembl-like.tsv'), chembl.join('\n') + '\n');
});
