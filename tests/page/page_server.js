'use strict';
// A loopback HTTP server that plays every party the display page talks to:
// the folder the page is installed in (dist/ plus a generated settings.xml),
// the data host, and the strip's event listener.

const http = require('node:http');
const net = require('node:net');
const fs = require('node:fs');
const path = require('node:path');

const DIST = path.resolve(__dirname, '../../dist');
const FIXTURES = path.join(__dirname, 'fixtures');

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.xml': 'application/xml',
  '.xsl': 'application/xml',
  '.css': 'text/css',
  '.js': 'text/javascript',
};

// Byte for byte what the strip answers to any request it hands to its event
// handler: no length and no body, the end of the answer is the close.
const STRIP_ANSWER =
  'HTTP/1.1 404 Not Found\r\nServer: LatestSongViewer/1.0\r\nContent-Type: text/html\r\n\r\n';

const SETTING_KEYS = [
  'datahost', 'disphtml', 'lsxml', 'lsxsl', 'lscss', 'port', 'refresh_interval', 'scrollspeed',
];

function escapeXml(text) {
  return String(text).replace(/&/g, '&amp;').replace(/</g, '&lt;').replace(/>/g, '&gt;');
}

function songXml(title, artist, { encoding = 'UTF-8', doctype = '' } = {}) {
  return `<?xml version="1.0" encoding="${encoding}"?>\n${doctype}<latestsong>` +
    '<station>試験放送</station>' +
    `<title>${escapeXml(title)}</title><artist>${escapeXml(artist)}</artist>` +
    '<time>2024-06-01T12:00:00+09:00</time></latestsong>\n';
}

// Shift_JIS bytes of a text; Node.js decodes Shift_JIS but cannot encode it,
// so each character's bytes are found by decoding every two-byte sequence.
let shiftJisTable = null;
function shiftJis(text) {
  if (!shiftJisTable) {
    shiftJisTable = new Map();
    const decoder = new TextDecoder('shift_jis');
    for (let lead = 0x81; lead <= 0xfc; lead++) {
      if (lead > 0x9f && lead < 0xe0) continue;
      for (let trail = 0x40; trail <= 0xfc; trail++) {
        const char = decoder.decode(Uint8Array.of(lead, trail));
        if (char.length === 1 && char !== '\ufffd' && !shiftJisTable.has(char)) shiftJisTable.set(char, [lead, trail]);
      }
    }
  }
  const bytes = [];
  for (const char of text) {
    if (char.charCodeAt(0) < 0x80) bytes.push(char.charCodeAt(0));
    else if (shiftJisTable.has(char)) bytes.push(...shiftJisTable.get(char));
    else throw new Error(`not in Shift_JIS: ${char}`);
  }
  return Buffer.from(bytes);
}

// What the strip reads from an event request (an origin-form target or a
// whole URL): the method, the path and the raw query's fields.
function eventRecord(method, target) {
  const url = new URL(target, 'http://127.0.0.1');
  const query = target.includes('?') ? target.slice(target.indexOf('?') + 1) : '';
  return {
    method,
    path: url.pathname,
    query,
    fields: query.split('&').map((item) => item.split('=')[0]),
    type: url.searchParams.get('type'),
    arg1: url.searchParams.get('arg1'),
    arg2: url.searchParams.get('arg2'),
  };
}

// A port on which nothing listens: connecting to it is refused at once.
async function closedPort() {
  const probe = net.createServer();
  await new Promise((resolve) => probe.listen(0, '127.0.0.1', resolve));
  const { port } = probe.address();
  await new Promise((resolve) => probe.close(resolve));
  return port;
}

class PageServer {
  constructor() {
    this.server = http.createServer((req, res) => this.handle(req, res));
    this.reset();
  }

  async start() {
    await new Promise((resolve) => this.server.listen(0, '127.0.0.1', resolve));
    this.port = this.server.address().port;
    this.origin = `http://127.0.0.1:${this.port}`;
    this.reset();
  }

  async stop() {
    this.server.closeAllConnections();
    await new Promise((resolve) => this.server.close(resolve));
  }

  reset() {
    this.settings = {
      datahost: '',
      disphtml: '',
      lsxml: 'now.xml',
      lsxsl: 'latestsong.xsl',
      lscss: 'latestsong.css',
      port: this.port ? String(this.port) : '22222',
      refresh_interval: '30',
      scrollspeed: '0',
    };
    this.settingsMissing = false;
    this.missing = new Set();
    // Files whose request is accepted and never answered.
    this.hanging = new Set();
    this.host = { status: 200, body: songXml('ホストの歌', 'ホスト歌手'), headers: {} };
    this.hostRequests = [];
    // Host requests left unanswered whose connection the browser closed; a
    // new list on each reset, so a close that comes late counts for the
    // test that made the request.
    this.hostDropped = [];
    this.events = [];
    this.log = [];
    // Called with (event, answer); the default answers at once.
    this.onEvent = (event, answer) => answer();
  }

  handle(req, res) {
    const url = new URL(req.url, 'http://127.0.0.1');
    const name = url.pathname;
    if (name === '/event') {
      this.recordEvent(req);
      return;
    }
    if (name.startsWith('/host/')) {
      this.hostRequests.push(req.url);
      this.answerHost(req, res);
      return;
    }
    if (this.hanging.has(name.replace(/^\/+/, ''))) return;
    if (name === '/settings.xml' && !this.settingsMissing) {
      res.writeHead(200, { 'Content-Type': TYPES['.xml'] });
      res.end(this.settingsXml());
      return;
    }
    this.answerFile(name, res);
  }

  recordEvent(req) {
    const event = eventRecord(req.method, req.url);
    this.events.push(event);
    this.log.push(`in:${event.type}`);
    const socket = req.socket;
    let answered = false;
    this.onEvent(event, () => {
      if (answered || socket.destroyed) return;
      answered = true;
      this.log.push(`out:${event.type}`);
      socket.end(STRIP_ANSWER);
    });
  }

  answerHost(req, res) {
    const host = this.host;
    if (host.hang) {
      const dropped = this.hostDropped;
      req.socket.once('close', () => dropped.push(req.url));
      return;
    }
    res.writeHead(host.status, { 'Content-Type': 'application/xml', ...host.headers });
    res.end(host.status === 200 ? host.body : '');
  }

  answerFile(name, res) {
    let file = null;
    const relative = decodeURIComponent(name).replace(/^\/+/, '');
    if (!this.missing.has(relative) && !relative.includes('..')) {
      file = relative.startsWith('fixtures/')
        ? path.join(FIXTURES, relative.slice('fixtures/'.length))
        : path.join(DIST, relative);
    }
    if (!file || !fs.existsSync(file) || !fs.statSync(file).isFile()) {
      res.writeHead(404, { 'Content-Type': 'text/plain' });
      res.end('not found');
      return;
    }
    res.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
    res.end(fs.readFileSync(file));
  }

  settingsXml() {
    const lines = SETTING_KEYS.map((key) => `  <${key}>${escapeXml(this.settings[key])}</${key}>`);
    return `<?xml version="1.0" encoding="UTF-8"?>\n<settings>\n${lines.join('\n')}\n</settings>\n`;
  }
}

module.exports = { PageServer, closedPort, eventRecord, songXml, shiftJis, DIST };
