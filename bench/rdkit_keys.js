// Peer for the benchmark: RDKit MinimalLib's InChI-to-key call over every
// line of a file, keys written to standard output.
const fs = require('fs');
const initRDKitModule = require('@rdkit/rdkit');

initRDKitModule().then((rdkit) => {
  const lines = fs.readFileSync(process.argv[2], 'latin1').split('\n');
  const keys = [];
  for (const line of lines) {
    if (line.startsWith('InC')) keys.push(rdkit.get_inchikey_for_inchi(line));
  }
  process.stdout.write(keys.join('\n') + '\n');
});
