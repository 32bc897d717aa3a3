// Writes the companion's bee as a binary glTF 2.0 file: a low-poly striped body, head, eyes,
// antennae, a stinger and two translucent wings whose nodes pivot at the wing roots so the view
// can flap them (it finds them by their translucent material). No dependencies: the geometry is built here and packed by hand.
//
//   node make-bee-model.mjs OUTPUT.glb
//
// Axes: the bee faces +x, +y is up, the wings spread along ±z.
import { writeFileSync } from 'node:fs';

const out = process.argv[2];
if (!out) {
  console.error('usage: node make-bee-model.mjs OUTPUT.glb');
  process.exit(2);
}

const materials = [];
const meshes = [];
const nodes = [];
const chunks = [];   // binary pieces, each 4-byte aligned
const bufferViews = [];
const accessors = [];
let byteLength = 0;

function material(name, rgba, { roughness = 0.55, blend = false, doubleSided = false } = {}) {
  materials.push({
    name,
    pbrMetallicRoughness: { baseColorFactor: rgba, metallicFactor: 0.0, roughnessFactor: roughness },
    ...(blend ? { alphaMode: 'BLEND' } : {}),
    ...(doubleSided ? { doubleSided: true } : {}),
  });
  return materials.length - 1;
}

function addView(typed, target) {
  const bytes = new Uint8Array(typed.buffer, typed.byteOffset, typed.byteLength);
  const padded = new Uint8Array(Math.ceil(bytes.length / 4) * 4);
  padded.set(bytes);
  chunks.push(padded);
  bufferViews.push({ buffer: 0, byteOffset: byteLength, byteLength: bytes.length, target });
  byteLength += padded.length;
  return bufferViews.length - 1;
}

function addMesh(name, geometry, materialIndex) {
  const { positions, normals, indices } = geometry;
  const min = [Infinity, Infinity, Infinity];
  const max = [-Infinity, -Infinity, -Infinity];
  for (let i = 0; i < positions.length; i += 3) {
    for (let k = 0; k < 3; k++) {
      min[k] = Math.min(min[k], positions[i + k]);
      max[k] = Math.max(max[k], positions[i + k]);
    }
  }
  const ARRAY_BUFFER = 34962;
  const ELEMENT_ARRAY_BUFFER = 34963;
  const FLOAT = 5126;
  const UNSIGNED_SHORT = 5123;
  const count = positions.length / 3;
  accessors.push({ bufferView: addView(new Float32Array(positions), ARRAY_BUFFER), componentType: FLOAT, count, type: 'VEC3', min, max });
  const position = accessors.length - 1;
  accessors.push({ bufferView: addView(new Float32Array(normals), ARRAY_BUFFER), componentType: FLOAT, count, type: 'VEC3' });
  const normal = accessors.length - 1;
  accessors.push({ bufferView: addView(new Uint16Array(indices), ELEMENT_ARRAY_BUFFER), componentType: UNSIGNED_SHORT, count: indices.length, type: 'SCALAR' });
  const index = accessors.length - 1;
  meshes.push({ name, primitives: [{ attributes: { POSITION: position, NORMAL: normal }, indices: index, material: materialIndex }] });
  return meshes.length - 1;
}

function addNode(node) {
  nodes.push(node);
  return nodes.length - 1;
}

// An ellipsoid with semi-axes (a, b, c) cut to the slice x0..x1 of its long axis (x); rings of
// `around` vertices. A whole ellipsoid is the slice -a..a.
function ellipsoidSlice(a, b, c, x0, x1, rings, around) {
  const positions = [];
  const normals = [];
  const indices = [];
  const t0 = Math.acos(Math.max(-1, Math.min(1, x0 / a)));
  const t1 = Math.acos(Math.max(-1, Math.min(1, x1 / a)));
  for (let r = 0; r <= rings; r++) {
    const theta = t0 + (t1 - t0) * (r / rings);   // angle from the +x pole
    const x = a * Math.cos(theta);
    const s = Math.sin(theta);
    for (let k = 0; k <= around; k++) {
      const phi = (2 * Math.PI * k) / around;
      const y = b * s * Math.cos(phi);
      const z = c * s * Math.sin(phi);
      positions.push(x, y, z);
      const n = [x / (a * a), y / (b * b), z / (c * c)];
      const len = Math.hypot(...n) || 1;
      normals.push(n[0] / len, n[1] / len, n[2] / len);
    }
  }
  for (let r = 0; r < rings; r++) {
    for (let k = 0; k < around; k++) {
      const i = r * (around + 1) + k;
      const j = i + around + 1;
      indices.push(i, i + 1, j, i + 1, j + 1, j);
    }
  }
  return { positions, normals, indices };
}

function sphere(radius, rings = 8, around = 12) {
  return ellipsoidSlice(radius, radius, radius, radius, -radius, rings, around);
}

// A flat, double-sided ellipse in the x-z plane, its root at the origin and spreading along +z.
function wing(length, width) {
  const positions = [0, 0, 0];
  const normals = [0, 1, 0];
  const indices = [];
  const steps = 18;
  for (let k = 0; k <= steps; k++) {
    const phi = (2 * Math.PI * k) / steps;
    positions.push((width / 2) * Math.sin(phi), 0, (length / 2) * (1 - Math.cos(phi)));
    normals.push(0, 1, 0);
  }
  for (let k = 1; k <= steps; k++) indices.push(0, k, k + 1);
  return { positions, normals, indices };
}

// A cylinder (or cone when r1 = 0) along +y from the origin.
function tube(r0, r1, height, around = 8) {
  const positions = [];
  const normals = [];
  const indices = [];
  const slope = (r0 - r1) / height;
  for (let ring = 0; ring <= 1; ring++) {
    const r = ring ? r1 : r0;
    for (let k = 0; k <= around; k++) {
      const phi = (2 * Math.PI * k) / around;
      positions.push(r * Math.cos(phi), ring * height, r * Math.sin(phi));
      const len = Math.hypot(1, slope);
      normals.push(Math.cos(phi) / len, slope / len, Math.sin(phi) / len);
    }
  }
  for (let k = 0; k < around; k++) indices.push(k, k + 1, k + around + 1, k + 1, k + around + 2, k + around + 1);
  return { positions, normals, indices };
}

const yellow = material('stripe-yellow', [1.0, 0.8, 0.12, 1]);
const black = material('stripe-black', [0.08, 0.07, 0.06, 1], { roughness: 0.7 });
const eyeMaterial = material('eye', [0.02, 0.02, 0.03, 1], { roughness: 0.15 });
const glint = material('eye-glint', [1, 1, 1, 1], { roughness: 0.2 });
const wingMaterial = material('wing', [0.88, 0.95, 1.0, 0.7], { roughness: 0.2, blend: true, doubleSided: true });

const children = [];

// The abdomen in alternating bands, back (-x) to front.
const A = 0.62, B = 0.46, C = 0.46;
const bands = [-0.62, -0.42, -0.24, -0.06, 0.12, 0.3, 0.62];
for (let i = 0; i < bands.length - 1; i++) {
  const mesh = addMesh(`body-band-${i}`, ellipsoidSlice(A, B, C, bands[i + 1], bands[i], 4, 20), i % 2 ? yellow : black);
  children.push(addNode({ name: `bodyBand${i}`, mesh }));
}

const head = addMesh('head', sphere(0.34, 10, 16), black);
children.push(addNode({ name: 'head', mesh: head, translation: [0.78, 0.06, 0] }));

const eye = addMesh('eye', sphere(0.11, 6, 10), eyeMaterial);
const eyeGlint = addMesh('eye-glint', sphere(0.035, 4, 6), glint);
for (const side of [-1, 1]) {
  children.push(addNode({ name: side < 0 ? 'eyeLeft' : 'eyeRight', mesh: eye, translation: [0.98, 0.16, 0.17 * side] }));
  children.push(addNode({ name: side < 0 ? 'glintLeft' : 'glintRight', mesh: eyeGlint, translation: [1.07, 0.21, 0.17 * side] }));
}

const antenna = addMesh('antenna', tube(0.018, 0.012, 0.34), black);
const antennaTip = addMesh('antenna-tip', sphere(0.04, 4, 6), black);
for (const side of [-1, 1]) {
  const tip = addNode({ name: side < 0 ? 'antennaTipLeft' : 'antennaTipRight', mesh: antennaTip, translation: [0, 0.34, 0] });
  // Tilted forward (towards +x) and outward (towards ±z) from the top of the head.
  children.push(addNode({
    name: side < 0 ? 'antennaLeft' : 'antennaRight', mesh: antenna, translation: [0.86, 0.32, 0.1 * side],
    rotation: multiply(axisAngle([0, 0, 1], -0.5), axisAngle([1, 0, 0], 0.35 * side)),
    children: [tip],
  }));
}

const stinger = addMesh('stinger', tube(0.07, 0.0, 0.2), black);
children.push(addNode({ name: 'stinger', mesh: stinger, translation: [-0.6, 0, 0], rotation: [0, 0, Math.sin(Math.PI / 4), Math.cos(Math.PI / 4)] }));

// Wings: roots on the back, the nodes' origins are the hinges the view rotates about.
const wingMesh = addMesh('wing', wing(0.9, 0.5), wingMaterial);
// Swept back and raised, so they show from the front as well as from the side.
children.push(addNode({ name: 'wingRight', mesh: wingMesh, translation: [0.15, 0.42, 0.08],
  rotation: multiply(axisAngle([1, 0, 0], -0.5), quatY(-0.35)) }));
children.push(addNode({ name: 'wingLeft', mesh: wingMesh, translation: [0.15, 0.42, -0.08],
  rotation: multiply(axisAngle([1, 0, 0], 0.5), quatY(Math.PI + 0.35)) }));

nodes.push({ name: 'bee', children });
const root = nodes.length - 1;

function quatY(angle) {
  return [0, Math.sin(angle / 2), 0, Math.cos(angle / 2)];
}
function axisAngle([x, y, z], angle) {
  const s = Math.sin(angle / 2);
  return [x * s, y * s, z * s, Math.cos(angle / 2)];
}
function multiply([ax, ay, az, aw], [bx, by, bz, bw]) {
  return [
    aw * bx + ax * bw + ay * bz - az * by,
    aw * by - ax * bz + ay * bw + az * bx,
    aw * bz + ax * by - ay * bx + az * bw,
    aw * bw - ax * bx - ay * by - az * bz,
  ];
}

const gltf = {
  asset: { version: '2.0', generator: 'zapum make-bee-model' },
  scene: 0,
  scenes: [{ name: 'bee', nodes: [root] }],
  nodes,
  meshes,
  materials,
  accessors,
  bufferViews,
  buffers: [{ byteLength }],
};

const json = Buffer.from(JSON.stringify(gltf), 'utf8');
const jsonPadded = Buffer.alloc(Math.ceil(json.length / 4) * 4, 0x20);
json.copy(jsonPadded);
const bin = Buffer.concat(chunks.map((c) => Buffer.from(c.buffer, c.byteOffset, c.byteLength)));

const header = Buffer.alloc(12);
header.writeUInt32LE(0x46546c67, 0); // "glTF"
header.writeUInt32LE(2, 4);
header.writeUInt32LE(12 + 8 + jsonPadded.length + 8 + bin.length, 8);
const jsonHeader = Buffer.alloc(8);
jsonHeader.writeUInt32LE(jsonPadded.length, 0);
jsonHeader.writeUInt32LE(0x4e4f534a, 4); // "JSON"
const binHeader = Buffer.alloc(8);
binHeader.writeUInt32LE(bin.length, 0);
binHeader.writeUInt32LE(0x004e4942, 4); // "BIN\0"

writeFileSync(out, Buffer.concat([header, jsonHeader, jsonPadded, binHeader, bin]));
