'use strict';
// sim-standin as a child process for the node checks: started on a free port
// with a call log and a packet log in a scratch folder, driven by control
// lines, stopped at the end. CTest passes the executable in VELMAR_STANDIN.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const kTimeoutMs = 30000;

// Polls `done` every 10 ms until it returns something truthy; rejects after `timeoutMs`.
async function eventually(done, what, timeoutMs = kTimeoutMs) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
        const value = done();
        if (value) return value;
        if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
        await new Promise((resolve) => setTimeout(resolve, 10));
    }
}

function readLines(file) {
    if (!fs.existsSync(file)) return [];
    return fs
        .readFileSync(file, 'utf8')
        .split('\n')
        .filter((line) => line !== '');
}

class Standin {
    static async start(extraArguments = []) {
        const executable = process.env.VELMAR_STANDIN;
        if (!executable) throw new Error('VELMAR_STANDIN names no sim-standin');
        const standin = new Standin();
        standin.folder = fs.mkdtempSync(path.join(os.tmpdir(), 'velmar-node-'));
        standin.logFile = path.join(standin.folder, 'calls.log');
        standin.packetFile = path.join(standin.folder, 'packets.log');
        standin.output = '';
        standin.child = spawn(
            executable,
            ['--port', '0', '--log', standin.logFile, '--packet-log', standin.packetFile, ...extraArguments],
            { stdio: ['pipe', 'pipe', 'inherit'] },
        );
        standin.child.stdout.setEncoding('utf8');
        standin.child.stdout.on('data', (text) => (standin.output += text));
        const match = await eventually(
            () => /^sim-standin listening on 127\.0\.0\.1:(\d+)\n/.exec(standin.output),
            'sim-standin to listen',
        );
        standin.port = Number(match[1]);
        return standin;
    }

    // Sends one control line and waits for its "ok" echo.
    async control(line) {
        const echo = `ok ${line}\n`;
        const before = this.output.split(echo).length;
        this.child.stdin.write(line + '\n');
        await eventually(() => this.output.split(echo).length > before, `"ok ${line}"`);
    }

    logLines() {
        return readLines(this.logFile);
    }

    async waitForLogLine(line) {
        await eventually(() => this.logLines().includes(line), `call log line ${line}`);
    }

    // Every packet received so far: the connection number and the bytes.
    packets() {
        return readLines(this.packetFile).map((line) => {
            const [connection, hex] = line.split(' ');
            return { connection: Number(connection), bytes: Buffer.from(hex, 'hex') };
        });
    }

    stop() {
        this.child.kill('SIGTERM');
        fs.rmSync(this.folder, { recursive: true, force: true });
    }
}

module.exports = { Standin, eventually, kTimeoutMs };
