'use strict';
// node-simconnect, an independent SimConnect client run unmodified, against
// sim-standin: what it sees is what any third-party client would see.

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const nsc = require('node-simconnect');
const { Standin, eventually } = require('./standin');

const kAircraft = 'SimObjects\\Airplanes\\Judge Plane 2\\aircraft.cfg';
const kAppName = 'Velmar judge';

// The nine variables the bridge samples, read from the product's one table.
const kSampleVariables = (() => {
    const header = fs.readFileSync(path.join(__dirname, '../../src/simconnect/sample_definition.h'), 'utf8');
    return [...header.matchAll(/\{"([A-Z ]+)", "([a-z ]+)", (\d+),/g)].map(([, name, unit]) => ({ name, unit }));
})();

let standin;
before(async () => {
    standin = await Standin.start(['--aircraft', kAircraft]);
});
after(() => standin.stop());

// An open connection that collects what arrives, by event name.
async function connect(protocol = nsc.Protocol.FSX_SP2) {
    const { recvOpen, handle } = await nsc.open(kAppName, protocol, { host: '127.0.0.1', port: standin.port });
    const seen = { exception: [], event: [], simObjectData: [], systemState: [], quit: [], error: [] };
    for (const name of Object.keys(seen)) handle.on(name, (record) => seen[name].push(record ?? true));
    return { recvOpen, handle, seen };
}

// `count` doubles of a data record's block, from its `first`.
function doubles(record, count, first = 0) {
    record.dataStart ??= record.data.getOffset();
    record.data.setOffset(record.dataStart + 8 * first);
    return Array.from({ length: count }, () => record.data.readFloat64());
}

function arrived(list, predicate, what) {
    return eventually(() => list.find(predicate), what);
}

test('opens with the FSX SP2 and the KittyHawk encodings and reads the 2020 simulator in RECV_OPEN', async () => {
    for (const protocol of [nsc.Protocol.FSX_SP2, nsc.Protocol.KittyHawk]) {
        const { recvOpen, handle } = await connect(protocol);
        assert.deepEqual(
            {
                name: recvOpen.applicationName,
                version: [recvOpen.applicationVersionMajor, recvOpen.applicationVersionMinor],
                build: [recvOpen.applicationBuildMajor, recvOpen.applicationBuildMinor],
                simConnect: [recvOpen.simConnectVersionMajor, recvOpen.simConnectVersionMinor],
                simConnectBuild: [recvOpen.simConnectBuildMajor, recvOpen.simConnectBuildMinor],
            },
            {
                name: 'KittyHawk',
                version: [11, 0],
                build: [282174, 999],
                simConnect: [11, 0],
                simConnectBuild: [62651, 3],
            },
            `protocol ${protocol}`,
        );
        handle.close();
    }
    // The stand-in logs an Open without our private Hello once the next packet or the hang-up shows there is none.
    const opens = () => standin.logLines().filter((line) => line.startsWith('SimConnect_Open '));
    await eventually(() => opens().length === 2, 'two Open lines');
    assert.deepEqual(opens(), Array(2).fill(`SimConnect_Open "${kAppName}" 0 0 0 0 -> 0`));
});

test('registers the nine sample variables, gets every changed frame and decodes sample lines', async () => {
    assert.equal(kSampleVariables.length, 9);
    const { handle, seen } = await connect();
    for (const { name, unit } of kSampleVariables) {
        handle.addToDataDefinition(0, name, unit, nsc.SimConnectDataType.FLOAT64, 0, 0xffffffff);
    }
    handle.requestDataOnSimObject(
        2, 0, nsc.SimConnectConstants.OBJECT_ID_USER, nsc.SimConnectPeriod.VISUAL_FRAME,
        nsc.DataRequestFlag.DATA_REQUEST_FLAG_CHANGED,
    );
    const altitude = (record) => doubles(record, 1)[0];
    // The aircraft climbs: each frame's record differs from the one before.
    await eventually(() => seen.simObjectData.length >= 3, 'three frames');
    const [first, second] = seen.simObjectData;
    assert.deepEqual([first.requestID, first.defineID, first.objectID], [2, 0, 0]);
    assert.ok(altitude(second) > altitude(first), `${altitude(second)} after ${altitude(first)}`);

    await standin.control('sample 2 1500.25 -3 0 359.5 nan inf -inf 47.25 -122.5');
    const expected = [1500.25, -3, 0, 359.5, NaN, Infinity, -Infinity, 47.25, -122.5];
    await arrived(
        seen.simObjectData,
        (record) => doubles(record, 9).every((value, i) => Object.is(value, expected[i])),
        'the sample line decoded',
    );
    handle.close();
});

test('gets the state of Pause and Sim on subscribing, and a transmitted pause toggles Pause', async () => {
    const { handle, seen } = await connect();
    handle.subscribeToSystemEvent(40, 'Pause');
    handle.subscribeToSystemEvent(41, 'Sim');
    await arrived(seen.event, (e) => e.clientEventId === 40 && e.data === 0, 'Pause state 0');
    await arrived(seen.event, (e) => e.clientEventId === 41 && e.data === 1, 'Sim state 1');

    handle.mapClientEventToSimEvent(42, 'PAUSE_TOGGLE');
    const pauses = () => seen.event.filter((e) => e.clientEventId === 40).map((e) => e.data).join();
    handle.transmitClientEvent(0, 42, 0, 1, nsc.EventFlag.EVENT_FLAG_GROUPID_IS_PRIORITY);
    await eventually(() => pauses() === '0,1', 'paused');
    await standin.waitForLogLine('SimConnect_TransmitClientEvent 0 42 0 1 16 -> 0');
    handle.transmitClientEvent(0, 42, 0, 1, nsc.EventFlag.EVENT_FLAG_GROUPID_IS_PRIORITY);
    await eventually(() => pauses() === '0,1,0', 'unpaused again');
    handle.close();
});

test('asks for AircraftLoaded and gets the --aircraft path', async () => {
    const { handle, seen } = await connect();
    handle.requestSystemState(3, 'AircraftLoaded');
    const state = await arrived(seen.systemState, (s) => s.requestID === 3, 'the system state');
    assert.equal(state.dataString, kAircraft);
    handle.close();
});

test('gets exception 7 for an unknown variable, with the send id of that call', async () => {
    const { handle, seen } = await connect();
    handle.addToDataDefinition(7, 'PLANE ALTITUDE', 'feet');
    const sendId = handle.addToDataDefinition(7, 'NO SUCH VARIABLE', 'feet');
    handle.addToDataDefinition(7, 'PLANE LATITUDE', 'degrees');
    assert.equal(handle.getLastSentPacketID(), sendId + 1);
    const exception = await arrived(seen.exception, () => true, 'an exception');
    assert.equal(exception.exception, nsc.SimConnectException.NAME_UNRECOGNIZED);
    assert.equal(exception.sendId, sendId);
    await standin.waitForLogLine('SimConnect_AddToDataDefinition 7 "PLANE LATITUDE" "degrees" 4 0 4294967295 -> 0');
    assert.equal(seen.exception.length, 1);
    handle.close();
});

test('writes an INITPOSITION: the call log shows it and the aircraft is there', async () => {
    // Held still, the aircraft stays exactly where it is put.
    await standin.control('freeze on');
    const { handle, seen } = await connect();
    handle.addToDataDefinition(100, 'Initial Position', null, nsc.SimConnectDataType.INITPOSITION, 0, 0xffffffff);
    for (const { name, unit } of kSampleVariables) handle.addToDataDefinition(1, name, unit);
    const position = new nsc.InitPosition();
    Object.assign(position, {
        latitude: 47.4375, longitude: 11.9375, altitude: 1700, pitch: 0, bank: 0, heading: 90,
        onGround: false, airspeed: 0,
    });
    handle.setDataOnSimObject(100, 0, [position]);
    const bytes = Buffer.alloc(56);
    [47.4375, 11.9375, 1700, 0, 0, 90].forEach((value, i) => bytes.writeDoubleLE(value, 8 * i));
    await standin.waitForLogLine(`SimConnect_SetDataOnSimObject 100 0 0 1 56 ${bytes.toString('hex')} -> 0`);

    handle.requestDataOnSimObject(5, 1, 0, nsc.SimConnectPeriod.VISUAL_FRAME);
    const record = await arrived(seen.simObjectData, (r) => r.requestID === 5, 'the position read back');
    assert.deepEqual(doubles(record, 2, 7), [47.4375, 11.9375]);
    await standin.control('freeze off');
    handle.close();
});

test('gets its quit event when the simulator quits', async () => {
    const { seen } = await connect();
    await standin.control('quit');
    await eventually(() => seen.quit.length === 1, 'the quit event');
    assert.deepEqual(seen.exception, []);
});
