// The companion's bee: the model from bee-runtime.glb beside this page, drawn with three.js on a
// transparent background, hovering with beating wings. Where WebGL or the model is unavailable a
// flat drawing of the same bee stands in, so the view is never empty.
import * as THREE from 'three';
import { GLTFLoader } from 'three/examples/jsm/loaders/GLTFLoader.js';

let canvas = document.getElementById('bee');
// Every frame the page shows costs the whole web pipeline, so the bee rests most of the time and
// now and then flutters: a short burst of wing beats and a small lift, then stillness again.
const FRAME_INTERVAL = 1000 / 12;
const CYCLE_SECONDS = 7.0;
const FLUTTER_SECONDS = 1.6;
const WING_BEATS_PER_SECOND = 3.2;

function readModel(url) {
  // fetch() refuses file: URLs; XMLHttpRequest may read files beside a local page.
  return new Promise((resolve, reject) => {
    const request = new XMLHttpRequest();
    request.open('GET', url);
    request.responseType = 'arraybuffer';
    request.onload = () => (request.response && request.response.byteLength > 0
      ? resolve(request.response) : reject(new Error('empty model file')));
    request.onerror = () => reject(new Error('cannot read ' + url));
    request.send();
  });
}

function parseModel(buffer) {
  return new Promise((resolve, reject) => new GLTFLoader().parse(buffer, '', resolve, reject));
}

// Calls draw(t, flutter) on a timer rather than on every display frame, so the page wakes only
// when it has something new to show. `flutter` runs 0..1 through a burst and is null at rest,
// when one frame is drawn and the page sleeps until the next burst.
function animate(draw) {
  function tick() {
    const t = (performance.now() + performance.timeOrigin) / 1000;
    const phase = t % CYCLE_SECONDS;
    if (phase < FLUTTER_SECONDS) {
      draw(t, phase / FLUTTER_SECONDS);
      setTimeout(tick, FRAME_INTERVAL);
    } else {
      draw(t, null);
      setTimeout(tick, (CYCLE_SECONDS - phase) * 1000);
    }
  }
  tick();
}

// How far the wings and the body move at this point of a burst: they ease in and out of it.
function envelope(flutter) {
  return flutter === null ? 0 : Math.sin(Math.PI * flutter);
}

async function startModel() {
  const renderer = new THREE.WebGLRenderer({ canvas, alpha: true, antialias: true, premultipliedAlpha: true });
  renderer.setClearColor(0x000000, 0);
  renderer.setPixelRatio(window.devicePixelRatio || 1);

  const gltf = await parseModel(await readModel('bee-runtime.glb'));
  const bee = gltf.scene;
  const wings = ['wingLeft', 'wingRight'].map((name) => bee.getObjectByName(name)).filter(Boolean);
  const wingRest = wings.map((w) => w.quaternion.clone());

  const scene = new THREE.Scene();
  scene.add(new THREE.HemisphereLight(0xffffff, 0x776655, 3.2));
  const sun = new THREE.DirectionalLight(0xffffff, 2.6);
  sun.position.set(2, 3, 4);
  scene.add(sun);

  const holder = new THREE.Group();
  holder.add(bee);
  holder.rotation.y = -0.45;  // three-quarter view, head towards the viewer
  scene.add(holder);

  // Frame the bee tightly: the box it fills as seen from the front, with a little room for the bob.
  const box = new THREE.Box3().setFromObject(holder);
  bee.position.sub(box.getCenter(new THREE.Vector3()));
  const size = box.getSize(new THREE.Vector3());
  const radius = Math.max(size.x, size.y) / 2;
  const halfFov = THREE.MathUtils.degToRad(30 / 2);
  const camera = new THREE.PerspectiveCamera(30, 1, 0.1, 50);
  const distance = (radius * 1.02) / Math.tan(halfFov) + size.z / 2;
  camera.position.set(0, radius * 0.25, distance);
  camera.lookAt(0, 0, 0);

  function resize() {
    const w = Math.max(1, window.innerWidth);
    const h = Math.max(1, window.innerHeight);
    renderer.setSize(w, h, false);
    camera.aspect = w / h;
    camera.updateProjectionMatrix();
  }
  window.addEventListener('resize', resize);
  resize();

  const flap = new THREE.Quaternion();
  const axis = new THREE.Vector3(1, 0, 0);
  animate((t, flutter) => {
    const strength = envelope(flutter);
    const beat = strength * Math.sin(t * 2 * Math.PI * WING_BEATS_PER_SECOND);
    wings.forEach((wing, i) => {
      // Both wings rise and fall together: mirror the beat for the left one.
      flap.setFromAxisAngle(axis, (i === 0 ? -1 : 1) * 0.55 * beat);
      wing.quaternion.copy(wingRest[i]).premultiply(flap);
    });
    holder.position.y = 0.08 * radius * strength;
    holder.rotation.y = -0.45 + 0.08 * strength;
    renderer.render(scene, camera);
  });
}

// The same bee as a flat drawing, for a view without WebGL or without a readable model.
function startDrawing(reason) {
  console.warn('bee page: drawing the flat bee:', reason && reason.message ? reason.message : reason);
  // A canvas that already had a WebGL context cannot give a 2D one: start on a fresh one.
  const fresh = document.createElement('canvas');
  canvas.replaceWith(fresh);
  canvas = fresh;
  const ctx = canvas.getContext('2d');
  function resize() {
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.max(1, Math.round(window.innerWidth * ratio));
    canvas.height = Math.max(1, Math.round(window.innerHeight * ratio));
  }
  window.addEventListener('resize', resize);
  resize();
  animate((t, flutter) => {
    const strength = envelope(flutter);
    const w = canvas.width, h = canvas.height;
    const s = Math.min(w, h) / 100;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.clearRect(0, 0, w, h);
    ctx.setTransform(s, 0, 0, s, w / 2, h / 2 - 4 * s * strength);
    const beat = strength * Math.sin(t * 2 * Math.PI * WING_BEATS_PER_SECOND);
    ctx.fillStyle = 'rgba(220, 236, 255, 0.7)';
    for (const side of [-1, 1]) {
      ctx.save();
      ctx.translate(-4 * side, -14);
      ctx.rotate(side * (0.5 + 0.35 * beat));
      ctx.beginPath();
      ctx.ellipse(0, -14, 9, 16, 0, 0, 2 * Math.PI);
      ctx.fill();
      ctx.restore();
    }
    ctx.save();
    ctx.beginPath();
    ctx.ellipse(-4, 4, 30, 22, 0, 0, 2 * Math.PI);
    ctx.clip();
    for (let i = 0; i < 6; i++) {
      ctx.fillStyle = i % 2 ? '#ffbd1a' : '#15120f';
      ctx.fillRect(-34 + i * 11, -30, 11, 60);
    }
    ctx.restore();
    ctx.fillStyle = '#15120f';
    ctx.beginPath();
    ctx.arc(28, 0, 15, 0, 2 * Math.PI);
    ctx.fill();
    ctx.fillStyle = '#ffffff';
    ctx.beginPath();
    ctx.arc(34, -4, 2.5, 0, 2 * Math.PI);
    ctx.fill();
  });
}

startModel().catch(startDrawing);
