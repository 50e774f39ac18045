// Starts `parlwick --mcp` the way an AI app does, through the official SDK client over stdio,
// against a history and notes written here. Any answer the SDK's schemas reject fails the run.
//   node client.mjs /path/to/parlwick
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import assert from "node:assert/strict";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const executable = process.argv[2];
assert.ok(executable, "usage: node client.mjs PARLWICK");

const referenceOffset = 978307200; // 2001-01-01T00:00:00Z in Unix seconds
const now = Date.now() / 1000 - referenceOffset;
const iso = (seconds) =>
  new Date(Math.floor(seconds + referenceOffset) * 1000).toISOString().replace(/\.\d{3}Z$/, "Z");

const root = fs.mkdtempSync(path.join(os.tmpdir(), "parlwick-mcp-"));
const data = path.join(root, "data", "org.parlwick.Parlwick");
const config = path.join(root, "config", "org.parlwick.Parlwick");
fs.mkdirSync(data, { recursive: true });
fs.mkdirSync(config, { recursive: true });

const record = (id, ago, app, outcome, text, extra = {}) => ({
  id, date: now - ago, seconds: 2.5, app, outcome, text, heard: text, ...extra,
  ...(outcome === "typed" ? {} : { problem: "No words found" }), totalMs: outcome === "typed" ? 420 : 0,
});
const uuid = (n) => `00000000-0000-4000-8000-${String(n).padStart(12, "0")}`;
const history = [
  record(uuid(1), 40 * 86400, "Mail", "typed", "Too old for the thirty days"),
  record(uuid(2), 7200, "Slack", "typed", "Standup moved to ten"),
  record(uuid(3), 5000, "Slack", "failed", ""),
  record(uuid(4), 3600, "Mail", "typed", "Dear Ann, the report is attached", { corrected: "Dear Ann, report attached" }),
];
// Oldest first, plus a damaged line the reader must skip.
fs.writeFileSync(path.join(data, "history.jsonl"),
  history.map((r) => JSON.stringify(r)).join("\n") + "\n{\"id\": broken\n");
const notes = [
  { id: uuid(10), date: now - 60, text: "Groceries: eggs, milk" },
  { id: uuid(11), date: now - 30, text: "" },
  { id: uuid(12), date: now - 3000, text: "Ideas\nA dictation diary" },
];
fs.writeFileSync(path.join(data, "notes.json"), JSON.stringify(notes));

const transport = new StdioClientTransport({
  command: executable,
  args: ["--mcp"],
  env: { ...process.env, XDG_DATA_HOME: path.join(root, "data"), XDG_CONFIG_HOME: path.join(root, "config") },
  stderr: "inherit",
});
const client = new Client({ name: "parlwick-test", version: "1.0.0" });

const text = (result) => {
  assert.equal(result.isError, undefined);
  assert.equal(result.content.length, 1);
  assert.equal(result.content[0].type, "text");
  return result.content[0].text;
};
const search = async (name, args) => text(await client.callTool({ name, arguments: args }));

try {
  await client.connect(transport);
  assert.deepEqual(client.getServerVersion(), { name: "parlwick", version: "1.0" });
  assert.deepEqual(client.getServerCapabilities(), { tools: {} });
  await client.ping();

  const { tools } = await client.listTools();
  assert.deepEqual(tools.map((t) => t.name), ["search_dictations", "search_notes"]);
  for (const tool of tools) {
    assert.equal(tool.annotations.readOnlyHint, true);
    assert.deepEqual(tool.inputSchema.properties.limit, { type: "integer", minimum: 1, maximum: 100 });
  }

  const newest = `[${iso(now - 3600)}] Mail: Dear Ann, report attached`;
  const older = `[${iso(now - 7200)}] Slack: Standup moved to ten`;
  assert.equal(await search("search_dictations", {}), `${newest}\n\n${older}`);
  assert.equal(await search("search_dictations", { query: "  SLACK\t" }), older);
  assert.equal(await search("search_dictations", { query: "report ATTACHED" }), newest);
  assert.equal(await search("search_dictations", { query: "the report is" }), "No dictations found.",
    "a corrected record is searched by its correction");
  assert.equal(await search("search_dictations", { limit: 1 }), newest);
  assert.equal(await search("search_dictations", { query: "thirty days" }), "No dictations found.");

  assert.equal(await search("search_notes", {}),
    `[${iso(now - 60)}]\nGroceries: eggs, milk\n\n[${iso(now - 3000)}]\nIdeas\nA dictation diary`);
  assert.equal(await search("search_notes", { query: "diary" }), `[${iso(now - 3000)}]\nIdeas\nA dictation diary`);

  // The files and the retention setting are read again on every call.
  fs.writeFileSync(path.join(config, "settings.ini"), "[General]\nretention=forever\n");
  assert.match(await search("search_dictations", { query: "thirty days" }), /Too old for the thirty days$/);
  fs.writeFileSync(path.join(config, "settings.ini"), "[General]\nretention=off\n");
  assert.equal(await search("search_dictations", {}), "No dictations found.");

  fs.rmSync(path.join(data, "notes.json"));
  fs.mkdirSync(path.join(data, "notes.json")); // unreadable even for root
  const failed = await client.callTool({ name: "search_notes", arguments: {} });
  assert.equal(failed.isError, true);
  assert.equal(failed.content[0].text, "Couldn't read the saved data.");

  await assert.rejects(client.callTool({ name: "delete_everything", arguments: {} }), /Unknown tool/);
  console.log("mcp sdk client: all checks passed");
} finally {
  await client.close();
  fs.rmSync(root, { recursive: true, force: true });
}
