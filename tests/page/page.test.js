'use strict';
// The sample display page (dist/RavidiVevo.html) in headless Chromium, served
// over loopback by PageServer the way the IE control would load it from the
// install folder, with a second server standing in for the strip's listener.

const { describe, it, before, after, beforeEach } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const acorn = require('acorn');
const { chromium } = require('playwright-core');
const { PageServer, closedPort, eventRecord, songXml, shiftJis, DIST } = require('./page_server');

const CHROMIUM = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
const CHROMIUM_ARGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];
const STRIP = { width: 275, height: 14 };
const FAKE_MSXML = path.join(__dirname, 'fixtures', 'fake-msxml.js');
const SCREENSHOT = path.resolve(__dirname, '../../docs/page.png');
const WAIT_MS = 15000;
// The port the strip listens on until it has read its settings.
const DEFAULT_PORT = 22222;

// The engines the page meets: plain Chromium; Chromium made to look like IE11
// by the MSXML stand-in; and Chromium without TextDecoder, like the browsers
// where the page falls back to the engine's own XML decoding.
const MODES = {
  plain: {},
  MSXML: { msxml: true },
  'no TextDecoder': { noTextDecoder: true },
};
const BOTH = ['plain', 'MSXML'];

const HOST_SONG = { title: 'ホストの歌', artist: 'ホスト歌手' };
const NO_SONG_TEXT = '曲情報を読み込めません';
const DEMO_SONG = (() => {
  const xml = fs.readFileSync(path.join(DIST, 'latestsong-demo.xml'), 'utf8');
  const field = (name) => xml.match(new RegExp(`<${name}>([^<]*)</${name}>`))[1];
  return { title: field('title'), artist: field('artist') };
})();

let browser;
let server; // the install folder and the data host
let listener; // the strip's event listener
const defaultPort = { events: [] }; // what reaches port 22222 instead

async function waitFor(what, predicate, timeoutMs = WAIT_MS) {
  const end = Date.now() + timeoutMs;
  while (!predicate()) {
    if (Date.now() > end) throw new Error(`gave up waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

// unavailable: URL endings whose MSXML transfer ends with the data
// unavailable (see the stand-in).
async function withStrip({ msxml = false, noTextDecoder = false, unavailable = [], scale = 1 } = {}, body) {
  const context = await browser.newContext({ viewport: STRIP, deviceScaleFactor: scale });
  try {
    // The page must not reach a real strip on this machine.
    await context.route(`http://127.0.0.1:${DEFAULT_PORT}/**`, (route) => {
      const request = route.request();
      defaultPort.events.push(eventRecord(request.method(), request.url()));
      return route.fulfill({ status: 404, contentType: 'text/html', body: '' });
    });
    if (noTextDecoder) await context.addInitScript(() => { delete window.TextDecoder; });
    if (msxml) {
      await context.addInitScript((endings) => { window.__msxmlUnavailable = endings; }, unavailable);
      await context.addInitScript({ path: FAKE_MSXML });
    }
    const page = await context.newPage();
    await page.goto(`${server.origin}/RavidiVevo.html`);
    return await body(page);
  } finally {
    await context.close();
  }
}

// The first copy of the rendered line, once the page has rendered one.
async function shownLine(page) {
  await page.waitForSelector('#track .copy', { state: 'attached', timeout: WAIT_MS });
  return page.evaluate(() => {
    const copy = document.querySelector('#track .copy');
    const text = (selector) => {
      const element = copy.querySelector(selector);
      return element ? element.textContent : null;
    };
    return { text: copy.textContent, title: text('.title'), artist: text('.artist') };
  });
}

// True when the title lies inside the strip vertically and shows, unhidden,
// somewhere across it.
async function titleShows(page) {
  return page.evaluate(({ width, height }) => {
    const title = document.querySelector('#track .copy .title');
    if (!title) return false;
    const box = title.getBoundingClientRect();
    const left = Math.max(box.left, 0);
    const right = Math.min(box.right, width);
    if (right <= left || box.top < 0 || box.bottom > height) return false;
    const hit = document.elementFromPoint((left + right) / 2, (box.top + box.bottom) / 2);
    return hit !== null && title.contains(hit);
  }, STRIP);
}

// Checks the line the page shows: the host's song, the demo song, or the
// notice that there is none.
async function assertShows(page, expect, { msxml = false } = {}) {
  const line = await shownLine(page);
  if (expect === 'notice') {
    assert.match(line.text, new RegExp(NO_SONG_TEXT));
    return;
  }
  const song = expect === 'host' ? HOST_SONG : DEMO_SONG;
  assert.equal(line.title, song.title);
  assert.equal(line.artist, song.artist);
  assert.equal(line.text, `♪ ${song.title} / ${song.artist}`);
  assert.ok(await titleShows(page), 'title visible inside the strip');
  if (msxml) {
    const log = await page.evaluate(() => window.__msxml);
    assert.equal(log.transforms, 1);
  }
}

// Runs a table of song cases, each in every mode it names (plain by
// default): the line shown, and whether the host was asked.
function songCases(cases) {
  for (const c of cases) {
    for (const mode of c.modes || ['plain']) {
      const shown = c.expect === 'notice' ? 'a notice' : `the ${c.expect} song`;
      it(`${c.name}${mode === 'plain' ? '' : ` (${mode})`}: shows ${shown}`, async () => {
        await c.setup();
        await withStrip(MODES[mode], async (page) => {
          await assertShows(page, c.expect, MODES[mode]);
          // Given up on, the request must not keep its connection.
          if (c.drops) await waitFor('the host request to be dropped', () => server.hostDropped.length === 1);
        });
        const asked = server.hostRequests.map((url) => url.split('?')[0]);
        assert.deepEqual(asked, c.asked ? ['/host/now.xml'] : []);
      });
    }
  }
}

function summary(events) {
  return events.map((event) => [event.type, event.arg1, event.arg2]);
}

function assertEventRequests(events) {
  for (const event of events) {
    assert.equal(event.method, 'GET', event.query);
    assert.equal(event.path, '/event', event.query);
    assert.deepEqual(event.fields, ['type', 'arg1', 'arg2'], event.query);
  }
}

before(async () => {
  browser = await chromium.launch({ executablePath: CHROMIUM, args: CHROMIUM_ARGS });
  server = new PageServer();
  listener = new PageServer();
  await server.start();
  await listener.start();
});

after(async () => {
  if (browser) await browser.close();
  if (server) await server.stop();
  if (listener) await listener.stop();
});

beforeEach(() => {
  server.reset();
  listener.reset();
  defaultPort.events = [];
  server.settings.port = String(listener.port);
});

const hostUrl = () => `${server.origin}/host/`;

describe('song line', () => {
  songCases([
    { name: 'host has data', expect: 'host', asked: true, setup: () => { server.settings.datahost = hostUrl(); } },
    {
      name: 'datahost without a trailing slash',
      expect: 'host',
      asked: true,
      setup: () => { server.settings.datahost = `${server.origin}/host`; },
    },
    {
      name: 'host unreachable',
      expect: 'demo',
      modes: BOTH,
      setup: async () => { server.settings.datahost = `http://127.0.0.1:${await closedPort()}/`; },
    },
    {
      name: 'host answers 404',
      expect: 'demo',
      asked: true,
      setup: () => { server.settings.datahost = hostUrl(); server.host.status = 404; },
    },
    {
      name: 'host sends malformed XML',
      expect: 'demo',
      asked: true,
      setup: () => { server.settings.datahost = hostUrl(); server.host.body = '<latestsong><title>x</latestsong>'; },
    },
    {
      name: 'host accepts but never answers',
      expect: 'demo',
      asked: true,
      drops: true,
      modes: BOTH,
      setup: () => { server.settings.datahost = hostUrl(); server.host.hang = true; },
    },
    { name: 'no datahost', expect: 'demo', setup: () => {} },
    { name: 'no settings file', expect: 'demo', setup: () => { server.settingsMissing = true; } },
    {
      name: 'empty lsxsl and lscss',
      expect: 'demo',
      setup: () => { server.settings.lsxsl = ''; server.settings.lscss = ''; },
    },
    {
      name: 'host unreachable and no demo file',
      expect: 'notice',
      setup: async () => {
        server.settings.datahost = `http://127.0.0.1:${await closedPort()}/`;
        server.missing.add('latestsong-demo.xml');
      },
    },
    {
      name: 'host has data as text/plain',
      modes: ['MSXML'],
      expect: 'host',
      asked: true,
      setup: () => {
        server.settings.datahost = hostUrl();
        server.host.headers = { 'Content-Type': 'text/plain; charset=utf-8' };
      },
    },
    // MSXML resolves no relative URL, so the page resolves the datahost
    // against itself as it does its own files.
    { name: 'relative datahost', modes: BOTH, expect: 'host', asked: true, setup: () => { server.settings.datahost = 'host/'; } },
    {
      name: 'relative datahost without a trailing slash',
      modes: BOTH,
      expect: 'host',
      asked: true,
      setup: () => { server.settings.datahost = './host'; },
    },
  ]);

  it('asks the host again on every load and shows its latest song', async () => {
    server.settings.datahost = hostUrl();
    server.host.status = 503;
    await withStrip({}, async (page) => {
      assert.equal((await shownLine(page)).title, DEMO_SONG.title);
      // Headers of a plain static file server: heuristically cacheable.
      const headers = { 'Last-Modified': new Date(Date.now() - 86400000).toUTCString() };
      for (const title of ['最初の歌', '次の歌']) {
        server.host = { status: 200, body: songXml(title, '歌手'), headers };
        await page.goto(`${server.origin}/RavidiVevo.html`);
        assert.equal((await shownLine(page)).title, title);
      }
    });
    assert.equal(server.hostRequests.length, 3);
  });

  it('uses the stylesheet and CSS that the settings name', async () => {
    server.settings.lsxsl = 'fixtures/alt.xsl';
    server.settings.lscss = 'fixtures/alt.css';
    await withStrip({}, async (page) => {
      const line = await shownLine(page);
      assert.equal(line.text, `[${DEMO_SONG.title}]`);
      await page.waitForFunction(() => getComputedStyle(document.querySelector('.alt')).color === 'rgb(255, 0, 255)',
        null, { timeout: WAIT_MS });
      const background = await page.evaluate(() => getComputedStyle(document.getElementById('strip')).backgroundColor);
      assert.equal(background, 'rgb(1, 2, 3)');
    });
  });
});

describe('song data in the host\'s own encoding', () => {
  // The XML declaration names the encoding; a Content-Type that says
  // nothing, or something else, must not change what the listener reads.
  const shiftJisSong = () => shiftJis(songXml(HOST_SONG.title, HOST_SONG.artist, { encoding: 'Shift_JIS' }));
  songCases([
    { type: 'text/plain', modes: [...BOTH, 'no TextDecoder'] },
    { type: 'application/octet-stream', modes: [...BOTH, 'no TextDecoder'] },
    { type: 'application/xml', modes: [...BOTH, 'no TextDecoder'] },
    // Where the engine decodes, a charset in the Content-Type wins.
    { type: 'text/plain; charset=utf-8', modes: BOTH },
  ].map(({ type, modes }) => ({
    name: `Shift_JIS data served as ${type}`,
    modes,
    expect: 'host',
    asked: true,
    setup: () => {
      server.settings.datahost = hostUrl();
      server.host.body = shiftJisSong();
      server.host.headers = { 'Content-Type': type };
    },
  })));
});

describe('DTDs in the host\'s data', () => {
  // The host's data with a DOCTYPE is refused like unreachable data.
  const withDoctype = (doctype, title) =>
    songXml('TITLE', HOST_SONG.artist, { doctype }).replace('<title>TITLE</title>', `<title>${title}</title>`);
  songCases([
    {
      name: 'an internal entity in the title',
      body: () => withDoctype('<!DOCTYPE latestsong [<!ENTITY t "ホストの歌">]>\n', '&t;'),
    },
    { name: 'a DOCTYPE alone', body: () => withDoctype('<!DOCTYPE latestsong>\n', HOST_SONG.title) },
    {
      name: 'an external DTD',
      body: () => withDoctype(`<!DOCTYPE latestsong SYSTEM "${server.origin}/host/song.dtd">\n`, HOST_SONG.title),
    },
  ].map(({ name, body }) => ({
    name: `host data with ${name}`,
    modes: BOTH,
    expect: 'demo',
    asked: true,
    setup: () => {
      server.settings.datahost = hostUrl();
      server.host.body = body();
    },
  })));

  for (const mode of BOTH) {
    it(`the page's own stylesheet may still name characters in its DTD (${mode})`, async () => {
      server.settings.lsxsl = 'fixtures/entity.xsl';
      await withStrip(MODES[mode], async (page) => {
        assert.equal((await shownLine(page)).text, `★${DEMO_SONG.title}`);
      });
    });
  }
});

describe('a file that never arrives or cannot be read', () => {
  // hang: a file accepted and never answered; unavailable: an MSXML transfer
  // that ends with its data unavailable. Without its settings the page sends
  // to the strip's first port.
  const cases = [
    { name: 'settings.xml never answers', modes: BOTH, hang: 'settings.xml', expect: 'demo', to: 'default port' },
    { name: 'settings.xml cannot be read', modes: ['MSXML'], unavailable: '/settings.xml', expect: 'demo', to: 'default port' },
    { name: 'the stylesheet never answers', modes: BOTH, hang: 'latestsong.xsl', expect: 'notice', to: 'listener' },
    { name: 'the stylesheet cannot be read', modes: ['MSXML'], unavailable: '/latestsong.xsl', expect: 'notice', to: 'listener' },
    { name: 'the demo never answers', modes: BOTH, hang: 'latestsong-demo.xml', expect: 'notice', to: 'listener' },
    { name: 'the demo cannot be read', modes: ['MSXML'], unavailable: '/latestsong-demo.xml', expect: 'notice', to: 'listener' },
    { name: 'the host\'s data cannot be read', modes: ['MSXML'], host: true, unavailable: '/host/now.xml', expect: 'demo', to: 'listener' },
  ];
  for (const c of cases) {
    for (const mode of c.modes) {
      const shown = c.expect === 'notice' ? 'a notice' : `the ${c.expect} song`;
      it(`${c.name} (${mode}): shows ${shown} and sends events to the ${c.to}`, async () => {
        if (c.host) server.settings.datahost = hostUrl();
        if (c.hang) server.hanging.add(c.hang);
        const receiver = c.to === 'listener' ? listener : defaultPort;
        await withStrip({ ...MODES[mode], unavailable: c.unavailable ? [c.unavailable] : [] }, async (page) => {
          await assertShows(page, c.expect, MODES[mode]);
          await page.mouse.click(30, 5);
          await waitFor('press and release', () => receiver.events.length >= 2);
          assertEventRequests(receiver.events);
          assert.deepEqual(receiver.events.map((event) => event.type), ['mousedown', 'mouseup']);
          assert.deepEqual([receiver.events[0].arg1, receiver.events[0].arg2], ['30', '5']);
        });
        assert.deepEqual((receiver === listener ? defaultPort : listener).events, []);
      });
    }
  }
});

describe('scrolling', () => {
  it('moves the line left, wraps around, and never leaves a gap', async () => {
    server.settings.scrollspeed = '5';
    await withStrip({}, async (page) => {
      await shownLine(page);
      // Watches every frame until the line has moved left and then jumped
      // back by a whole copy.
      const seen = await page.evaluate((width) => new Promise((resolve) => {
        const track = document.getElementById('track');
        const state = { last: null, movedLeft: false, wrapped: false, gap: false };
        function watch() {
          const box = track.getBoundingClientRect();
          if (box.right < width) state.gap = true;
          if (state.last !== null && box.left < state.last) state.movedLeft = true;
          if (state.last !== null && box.left > state.last && state.movedLeft) state.wrapped = true;
          state.last = box.left;
          if (state.wrapped) resolve(state);
          else requestAnimationFrame(watch);
        }
        watch();
      }), STRIP.width);
      assert.ok(seen.movedLeft);
      assert.ok(!seen.gap, 'copies fill the strip');
      assert.ok(await page.evaluate(() => document.querySelectorAll('#track .copy').length >= 2));
    });
  });

  it('stays still with a scroll speed of 0', async () => {
    server.settings.scrollspeed = '0';
    await withStrip({}, async (page) => {
      await shownLine(page);
      // A few hundred frames would have moved it with any running timer.
      const lefts = await page.evaluate(() => new Promise((resolve) => {
        const seen = new Set();
        let frames = 0;
        (function watch() {
          seen.add(document.getElementById('track').getBoundingClientRect().left);
          if (++frames < 30) requestAnimationFrame(watch);
          else setTimeout(() => { seen.add(document.getElementById('track').getBoundingClientRect().left); resolve([...seen]); }, 300);
        })();
      }));
      assert.deepEqual(lefts, [0]);
    });
  });
});

describe('mouse events', () => {
  async function ready(page) {
    await shownLine(page);
  }

  it('a left click sends mousedown with the page position, then mouseup', async () => {
    await withStrip({}, async (page) => {
      await ready(page);
      for (const [x, y] of [[120, 6], [0, 0], [274, 13], [37, 9]]) {
        listener.events = [];
        await page.mouse.click(x, y);
        await waitFor('press and release', () => listener.events.length >= 2);
        assertEventRequests(listener.events);
        assert.deepEqual(summary(listener.events), [['mousedown', String(x), String(y)], ['mouseup', String(x), String(y)]]);
      }
    });
  });

  // The release carries its own position, so no two releases in a row need
  // be the same address.
  const drags = [
    { from: [55, 4], to: [200, 11] },
    { from: [274, 13], to: [0, 0] },
    { from: [10, 2], to: [10, 2] },
  ];
  for (const mode of BOTH) {
    it(`a left press sends mousedown at once, and the release mouseup where it happened (${mode})`, async () => {
      await withStrip(MODES[mode], async (page) => {
        await ready(page);
        for (const { from, to } of drags) {
          listener.events = [];
          await page.mouse.move(...from);
          await page.mouse.down();
          await waitFor('press', () => listener.events.length >= 1);
          assert.deepEqual(summary(listener.events), [['mousedown', ...from.map(String)]]);
          await page.mouse.move(...to, { steps: 3 });
          await page.mouse.up();
          await waitFor('release', () => listener.events.length >= 2);
          assertEventRequests(listener.events);
          assert.deepEqual(summary(listener.events), [['mousedown', ...from.map(String)], ['mouseup', ...to.map(String)]]);
        }
      });
    });
  }

  const otherClicks = [
    { name: 'right click', button: 'right', at: [50, 7], sends: [['openmenu', '50', '7']], prevented: [true] },
    { name: 'right click at the far corner', button: 'right', at: [274, 13], sends: [['openmenu', '274', '13']], prevented: [true] },
    { name: 'middle click', button: 'middle', at: [60, 5], sends: [], prevented: [] },
  ];
  for (const c of otherClicks) {
    it(`${c.name} sends ${c.sends.length ? c.sends[0][0] : 'nothing'}`, async () => {
      await withStrip({}, async (page) => {
        await ready(page);
        await page.evaluate(() => {
          window.__menus = [];
          window.addEventListener('contextmenu', (e) => window.__menus.push(e.defaultPrevented));
        });
        await page.mouse.click(c.at[0], c.at[1], { button: c.button });
        // Events leave in order, so whatever the click sent arrives before
        // the marker click's pair.
        await page.mouse.click(10, 3);
        const expected = [...c.sends, ['mousedown', '10', '3'], ['mouseup', '10', '3']];
        await waitFor('marker click', () => listener.events.length >= expected.length);
        assertEventRequests(listener.events);
        assert.deepEqual(summary(listener.events), expected);
        assert.deepEqual(await page.evaluate(() => window.__menus), c.prevented);
      });
    });
  }

  it('repeats an identical event instead of reusing an earlier answer', async () => {
    await withStrip({}, async (page) => {
      await ready(page);
      await page.mouse.click(80, 8);
      await page.mouse.click(80, 8);
      await page.mouse.click(80, 8, { button: 'right' });
      await page.mouse.click(80, 8, { button: 'right' });
      await waitFor('all clicks', () => listener.events.length >= 6);
      assertEventRequests(listener.events);
      const click = [['mousedown', '80', '8'], ['mouseup', '80', '8']];
      assert.deepEqual(summary(listener.events), [...click, ...click, ['openmenu', '80', '8'], ['openmenu', '80', '8']]);
    });
  });

  it('sends the release only after the strip has answered the press', async () => {
    listener.onEvent = (event, answer) => setTimeout(answer, event.type === 'mousedown' ? 300 : 0);
    await withStrip({}, async (page) => {
      await ready(page);
      await page.mouse.click(20, 5);
      await waitFor('both answers', () => listener.log.length >= 4);
      assert.deepEqual(listener.log, ['in:mousedown', 'out:mousedown', 'in:mouseup', 'out:mouseup']);
    });
  });

  it('goes on sending when the strip never answers an event', async () => {
    listener.onEvent = (event, answer) => { if (event.type !== 'mousedown') answer(); };
    await withStrip({}, async (page) => {
      await ready(page);
      await page.mouse.click(20, 5);
      await waitFor('the release after an unanswered press', () => listener.events.length >= 2);
      assert.deepEqual(summary(listener.events), [['mousedown', '20', '5'], ['mouseup', '20', '5']]);
    });
  });

  it('reports events through MSXML-only IE as well', async () => {
    await withStrip({ msxml: true }, async (page) => {
      await ready(page);
      await page.mouse.click(33, 7);
      await page.mouse.click(44, 2, { button: 'right' });
      await waitFor('three events', () => listener.events.length >= 3);
      assertEventRequests(listener.events);
      assert.deepEqual(summary(listener.events), [['mousedown', '33', '7'], ['mouseup', '33', '7'], ['openmenu', '44', '2']]);
      const opened = await page.evaluate(() => window.__msxml.opened);
      assert.ok(opened.some((url) => url === `${server.origin}/settings.xml`), opened.join(' '));
    });
  });
});

describe('page source', () => {
  const html = fs.readFileSync(path.join(DIST, 'RavidiVevo.html'), 'utf8');

  it('puts IE into standards mode before any other element', () => {
    assert.match(html, /^<!DOCTYPE html>/);
    const head = html.slice(html.indexOf('<head>') + '<head>'.length, html.indexOf('</head>'));
    const compatible = head.indexOf('<meta http-equiv="X-UA-Compatible" content="IE=edge">');
    assert.ok(compatible >= 0);
    const before = head.slice(0, compatible).match(/<[a-z]+/gi) || [];
    assert.deepEqual(before.filter((tag) => !/^<(meta|title)$/i.test(tag)), []);
  });

  it('has only script that IE11 can run', () => {
    const scripts = [...html.matchAll(/<script>([\s\S]*?)<\/script>/g)].map((m) => m[1]);
    assert.ok(scripts.length > 0);
    // Globals and methods that IE11 lacks.
    const missingGlobals = new Set(['fetch', 'Promise', 'Symbol', 'Map', 'Set', 'WeakMap', 'Proxy', 'Reflect', 'URL', 'URLSearchParams']);
    const missingMethods = new Set(['includes', 'startsWith', 'endsWith', 'find', 'findIndex', 'assign', 'from', 'repeat',
      'padStart', 'padEnd', 'remove', 'append', 'prepend', 'closest', 'replaceWith', 'matches', 'entries', 'values']);
    for (const source of scripts) {
      const tree = acorn.parse(source, { ecmaVersion: 5 });
      const used = [];
      (function walk(node, parent) {
        if (!node || typeof node.type !== 'string') return;
        if (node.type === 'Identifier' && missingGlobals.has(node.name) &&
            !(parent && parent.type === 'MemberExpression' && parent.property === node && !parent.computed)) {
          used.push(node.name);
        }
        if (node.type === 'MemberExpression' && !node.computed && missingMethods.has(node.property.name)) {
          used.push(`.${node.property.name}`);
        }
        for (const value of Object.values(node)) {
          for (const child of Array.isArray(value) ? value : [value]) {
            if (child && typeof child === 'object') walk(child, node);
          }
        }
      })(tree, null);
      assert.deepEqual(used, []);
    }
  });
});

describe('picture', () => {
  it('renders the demo song into docs/page.png', async () => {
    await withStrip({ scale: 3 }, async (page) => {
      assert.equal((await shownLine(page)).title, DEMO_SONG.title);
      await page.evaluate(() => document.fonts.ready);
      assert.ok(await titleShows(page));
      fs.mkdirSync(path.dirname(SCREENSHOT), { recursive: true });
      await page.screenshot({ path: SCREENSHOT });
    });
  });
});
