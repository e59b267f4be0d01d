// Writes encrypted_package_cfb.xlsx: an OLE2 compound file (written by the
// npm package cfb 1.2) holding the two streams of a password-protected Office
// Open XML package, as Office leaves one: EncryptionInfo (the agile version
// header and a short encryption descriptor) and EncryptedPackage (the
// package's size, then its bytes, here data3000.xlsx's first 4096 bytes
// standing for ciphertext). No tool at hand encrypts a package, so the
// contents are put together here; the readers look only at the streams.
//   NODE_PATH=/work/tools/node_modules node make_encrypted_package.js
const fs = require("fs");
const path = require("path");
const CFB = require("cfb");

const descriptor = Buffer.from(
  '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n' +
    '<encryption xmlns="http://schemas.microsoft.com/office/2006/encryption">' +
    '<keyData saltSize="16" blockSize="16" keyBits="256" hashSize="64" cipherAlgorithm="AES" ' +
    'cipherChaining="ChainingModeCBC" hashAlgorithm="SHA512"/></encryption>',
  "latin1"
);
const info = Buffer.concat([Buffer.from([4, 0, 4, 0, 0x40, 0, 0, 0]), descriptor]);
const source = fs.readFileSync(path.join(__dirname, "..", "data3000.xlsx"));
const size = Buffer.alloc(8);
size.writeUInt32LE(source.length, 0);
const packageStream = Buffer.concat([size, source.subarray(0, 4096)]);

const cfb = CFB.utils.cfb_new();
CFB.utils.cfb_add(cfb, "/EncryptionInfo", info);
CFB.utils.cfb_add(cfb, "/EncryptedPackage", packageStream);
fs.writeFileSync(path.join(__dirname, "encrypted_package_cfb.xlsx"), CFB.write(cfb, { type: "buffer" }));
