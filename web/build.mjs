// Builds the page into a folder of static files (default: dist/ here; the
// CMake build passes build/web): index.html, app.js (the page with its
// libraries, one file) and app.css. Nothing is fetched when the page runs.
//   node build.mjs [OUT_DIR]
import { build } from 'esbuild';
import { copyFileSync, mkdirSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const out = resolve(process.argv[2] || join(here, 'dist'));
mkdirSync(out, { recursive: true });
await build({
  entryPoints: { app: join(here, 'src/main.js') },
  outdir: out,
  bundle: true,
  // A classic script, not a module: mosquitto's http_dir sends no Content-Type,
  // and browsers load module scripts only with a JavaScript one.
  format: 'iife',
  platform: 'browser',
  target: ['chrome100', 'firefox100', 'safari15'],
  minify: true,
  sourcemap: false,
  legalComments: 'linked',
  logLevel: 'warning',
});
copyFileSync(join(here, 'index.html'), join(out, 'index.html'));
console.log(`web: built ${out}`);
