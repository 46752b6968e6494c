// SPDX-License-Identifier: BSD-3-Clause
// Writes one MCAP file with the npm registry's MCAP library, from messages
// read as JSON on standard input (make_test_bags.py prepares them):
//   {"topics": [{"name", "type", "definition"}], "messages": [[topic, log_time_ns, base64 CDR], ...]}
// usage: node write_mcap.mjs OUT.mcap none|zstd|lz4|unchunked CHUNK_BYTES
import { McapWriter } from "@mcap/core";
import { execFileSync } from "node:child_process";
import { openSync, writeSync, closeSync, readFileSync } from "node:fs";

const [out, mode, chunkBytes] = process.argv.slice(2);
const input = JSON.parse(readFileSync(0, "utf8"));

// Debian's own command-line compressors, not the reader's libraries' callers.
const compressors = {
  zstd: (data) => execFileSync("zstd", ["-q", "-c", "-19"], { input: data }),
  lz4: (data) => execFileSync("lz4", ["-q", "-c"], { input: data }),
};

const fd = openSync(out, "w");
let position = 0n;
const writable = {
  position: () => position,
  write: async (buffer) => {
    writeSync(fd, buffer);
    position += BigInt(buffer.byteLength);
  },
};

const options = { writable, useChunks: mode !== "unchunked", chunkSize: Number(chunkBytes) };
if (compressors[mode]) {
  options.compressChunk = (data) => ({
    compression: mode,
    compressedData: new Uint8Array(compressors[mode](Buffer.from(data))),
  });
}
const writer = new McapWriter(options);
await writer.start({ profile: "ros2", library: "@mcap/core test writer" });
const channels = [];
for (const t of input.topics) {
  const schemaId = await writer.registerSchema({
    name: t.type,
    encoding: "ros2msg",
    data: new TextEncoder().encode(t.definition),
  });
  channels.push(
    await writer.registerChannel({
      schemaId,
      topic: t.name,
      messageEncoding: "cdr",
      metadata: new Map([["offered_qos_profiles", ""]]),
    }),
  );
}
let sequence = 0;
for (const [topic, logTime, data] of input.messages) {
  await writer.addMessage({
    channelId: channels[topic],
    sequence: sequence++,
    logTime: BigInt(logTime),
    publishTime: BigInt(logTime),
    data: new Uint8Array(Buffer.from(data, "base64")),
  });
}
await writer.end();
closeSync(fd);
