'use strict';
// Makes, through node-simconnect, every call of a sim-standin call log that
// our client wrote, with the same arguments, against another sim-standin:
//
//   node replay_calls.js OUR_CALL_LOG PORT THEIR_CALL_LOG
//
// A connection is closed only once THEIR_CALL_LOG shows every call made on
// it, so no packet is lost to the close; node-simconnect sends nothing on
// close, so Close is not logged. Exits 0 when every call was made.

const fs = require('node:fs');
const nsc = require('node-simconnect');
const { eventually } = require('./standin');

const [ourLog, portText, theirLog] = process.argv.slice(2);
const port = Number(portText);

// "NAME" (JSON escapes), null and bare words, up to " -> ".
function parse(line) {
    const arrow = line.lastIndexOf(' -> ');
    const text = line.slice(0, arrow);
    const words = [];
    for (let i = 0; i < text.length; ) {
        if (text[i] === ' ') {
            i += 1;
        } else if (text[i] === '"') {
            let end = i + 1;
            while (text[end] !== '"') end += text[end] === '\\' ? 2 : 1;
            words.push(JSON.parse(text.slice(i, end + 1)));
            i = end + 1;
        } else {
            const end = text.indexOf(' ', i) < 0 ? text.length : text.indexOf(' ', i);
            const word = text.slice(i, end);
            words.push(word === 'null' ? null : word);
            i = end;
        }
    }
    return { name: words[0], args: words.slice(1) };
}

function dataBlock(hex) {
    const bytes = Buffer.from(hex, 'hex');
    const buffer = new nsc.RawBuffer(bytes.length);
    buffer.write(bytes);
    return buffer;
}

const calls = {
    SimConnect_AddToDataDefinition: (h, [define, datum, units, type, epsilon, datumId]) =>
        h.addToDataDefinition(+define, datum, units, +type, +epsilon, +datumId),
    SimConnect_MapClientEventToSimEvent: (h, [event, name]) => h.mapClientEventToSimEvent(+event, name),
    SimConnect_AddClientEventToNotificationGroup: (h, [group, event, maskable]) =>
        h.addClientEventToNotificationGroup(+group, +event, maskable !== '0'),
    SimConnect_SetNotificationGroupPriority: (h, [group, priority]) => h.setNotificationGroupPriority(+group, +priority),
    SimConnect_SubscribeToSystemEvent: (h, [event, name]) => h.subscribeToSystemEvent(+event, name),
    SimConnect_RequestDataOnSimObject: (h, a) => h.requestDataOnSimObject(...a.map(Number)),
    SimConnect_RequestSystemState: (h, [request, name]) => h.requestSystemState(+request, name),
    SimConnect_TransmitClientEvent: (h, a) => h.transmitClientEvent(...a.map(Number)),
    SimConnect_SetDataOnSimObject: (h, [define, object, flags, count, , hex]) =>
        h.setDataOnSimObject(+define, +object, { buffer: dataBlock(hex), arrayCount: +count, tagged: (+flags & 1) === 1 }),
};

function theirLines() {
    return fs.existsSync(theirLog) ? fs.readFileSync(theirLog, 'utf8').split('\n').filter(Boolean).length : 0;
}

async function main() {
    const lines = fs.readFileSync(ourLog, 'utf8').split('\n').filter(Boolean);
    let handle = null;
    let made = 0;  // lines their log should hold once the calls so far arrived
    for (const line of lines) {
        const { name, args } = parse(line);
        if (name === 'SimConnect_Open') {
            ({ handle } = await nsc.open(args[0], nsc.Protocol.FSX_SP2, { host: '127.0.0.1', port }));
            handle.on('error', (error) => console.error(`connection error: ${error.message}`));
        } else if (name === 'SimConnect_Close') {
            await eventually(() => theirLines() >= made, `${made} calls in ${theirLog}`);
            handle.close();
            handle = null;
            continue;
        } else if (calls[name]) {
            calls[name](handle, args);
        } else {
            throw new Error(`no way to replay: ${line}`);
        }
        made += 1;
    }
    await eventually(() => theirLines() >= made, `${made} calls in ${theirLog}`);
    if (handle) handle.close();
    console.log(`replayed ${made} calls`);
}

main().then(
    () => process.exit(0),
    (error) => {
        console.error(`replay_calls: ${error.stack}`);
        process.exit(1);
    },
);
