// Builds the reference set for the cross-check test: real structures from
// Debian's rdkit-data package, their standard and non-standard InChI, and the
// InChIKey of each computed by RDKit MinimalLib's own InChI code (not the
// libinchi that molstamp links).
//
//   cd tools && npm install && node make_reference.js | gzip -9n > ../tests/data/crosscheck.tsv.gz
//
// Output: comment lines starting with '#', then one "inchi<TAB>key" line per
// distinct InChI string, in a stable order.
const fs = require('fs');
const path = require('path');
const initRDKitModule = require('@rdkit/rdkit');

const DATA = '/usr/share/RDKit';
const SMILES_FILES = [
  'Data/NCI/first_5K.smi',
  'Contrib/FreeWilson/data/CHEMBL2321810.smi',
  'Contrib/fraggle/data/ChEMBL_11265_actives.smi',
  'Contrib/Fastcluster/cdk2.smi',
  'Contrib/mmpa/data/sample.smi',
  'Projects/DbCLI/testData/bzr.smi',
];
const SDF_FILES = [
  'Projects/DbCLI/testData/pubchem.200.sdf',
  'Projects/DbCLI/testData/bzr.sdf',
  'Contrib/PBF/testData/egfr.sdf',
  'Data/NCI/first_200.props.sdf',
];
// Standard InChI, and two non-standard ("InChI=1/") forms: with the fixed-H
// layer, and without stereo layers.
const INCHI_OPTIONS = ['', '-FixedH', '-SNon'];

function* structures() {
  for (const file of SMILES_FILES) {
    for (const line of fs.readFileSync(path.join(DATA, file), 'utf8').split('\n')) {
      // Some files put the name first: try each field.
      for (const field of line.trim().split(/\s+/)) {
        if (field) yield {text: field, source: file};
      }
    }
  }
  for (const file of SDF_FILES) {
    for (const record of fs.readFileSync(path.join(DATA, file), 'utf8').split('$$$$')) {
      const end = record.indexOf('M  END');
      if (end >= 0) yield {text: record.slice(0, end + 6).replace(/^\s*\n/, ''), source: file};
    }
  }
}

initRDKitModule().then((rdkit) => {
  const keys = new Map();
  let molecules = 0;
  for (const {text} of structures()) {
    let mol = null;
    try {
      mol = rdkit.get_mol(text);
    } catch (e) {
      mol = null;
    }
    if (!mol || !mol.is_valid()) {
      if (mol) mol.delete();
      continue;
    }
    molecules++;
    for (const options of INCHI_OPTIONS) {
      const inchi = mol.get_inchi(options);
      if (!inchi.startsWith('InChI=') || keys.has(inchi)) continue;
      const key = rdkit.get_inchikey_for_inchi(inchi);
      if (key) keys.set(inchi, key);
    }
    mol.delete();
  }
  const out = [
    `# InChI strings and their InChIKeys from RDKit MinimalLib ${rdkit.version()}`,
    `# (@rdkit/rdkit ${require('./package.json').dependencies['@rdkit/rdkit']}), made by tools/make_reference.js`,
    `# from ${molecules} structures of Debian's rdkit-data package; ${keys.size} distinct InChI strings.`,
  ];
  for (const inchi of [...keys.keys()].sort()) out.push(`${inchi}\t${keys.get(inchi)}`);
  process.stdout.write(out.join('\n') + '\n');
});
