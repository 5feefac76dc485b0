// A page in Chromium (Debian's, headless, driven by playwright-core) drives the simulated network
// printer through tavrin-service with the JavaScript client: it lists the device, opens it, reads
// its type and configuration, sets an item and closes it; a page from an origin the service does
// not allow is refused. Exit codes: 0 passed, 1 failed, 77 skipped (no browser could start).
//
// usage: node browser-test.mjs --build BUILD_TREE [--out FOLDER] [--chromium PATH]
import { spawn } from "node:child_process";
import dgram from "node:dgram";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name, fallback) => {
    const at = args.indexOf(name);
    return at >= 0 && at + 1 < args.length ? args[at + 1] : fallback;
};
const build = path.resolve(option("--build", path.join(here, "../../build/release")));
const out = path.resolve(option("--out", path.join(build, "browser-test")));
const chromiumPath = option("--chromium", "/usr/bin/chromium");

const failures = [];
const check = (condition, what) => {
    if (!condition) {
        failures.push(what);
        console.log("FAILED: " + what);
    } else {
        console.log("ok: " + what);
    }
};
const skip = (reason) => {
    console.log("SKIPPED: " + reason);
    process.exit(77);
};

// A program whose output lines are collected; `waitFor` resolves with the first line that matches.
function start(program, programArgs, env) {
    const child = spawn(program, programArgs, { env, stdio: ["pipe", "pipe", "pipe"] });
    const lines = [];
    const errors = [];
    const waiters = [];
    let rest = "";
    child.stdout.on("data", (chunk) => {
        rest += chunk.toString();
        let at;
        while ((at = rest.indexOf("\n")) >= 0) {
            const line = rest.slice(0, at).trim();
            rest = rest.slice(at + 1);
            lines.push(line);
            for (const w of waiters.splice(0)) {
                if (w.pattern.test(line)) w.resolve(line);
                else waiters.push(w);
            }
        }
    });
    child.stderr.on("data", (chunk) => errors.push(chunk.toString()));
    const waitFor = (pattern, ms = 30000) => {
        const seen = lines.find((l) => pattern.test(l));
        if (seen) return Promise.resolve(seen);
        return new Promise((resolve, reject) => {
            waiters.push({ pattern, resolve });
            setTimeout(() => reject(new Error(`${path.basename(program)} printed no line ${pattern} (stdout: ${lines.join(" | ")}; stderr: ${errors.join("")})`)), ms);
        });
    };
    return { child, lines, errors, waitFor };
}

function freeUdpPort(address) {
    return new Promise((resolve, reject) => {
        const s = dgram.createSocket("udp4");
        s.on("error", reject);
        s.bind(0, address, () => {
            const port = s.address().port;
            s.close(() => resolve(port));
        });
    });
}

// The model answer (0x01) is the class byte 1 and the type text "TV-N58".
// The configuration packet the simulated printer stores: DEVID 1, CFGID 2, one data byte (Speed),
// with its CRC-8 (polynomial 0x31).
function configPacket(value) {
    let crc = value;
    for (let k = 0; k < 8; ++k) crc = crc & 0x80 ? ((crc << 1) ^ 0x31) & 0xff : (crc << 1) & 0xff;
    return [1, 2, 0, 1, 1, crc, 0x77, 0x88, value].map((b) => b.toString(16).padStart(2, "0")).join(" ");
}

async function main() {
    let playwright;
    try {
        playwright = await import("playwright-core");
    } catch (e) {
        skip("playwright-core is not installed (npm ci in tests/browser): " + e.message);
    }
    if (!fs.existsSync(chromiumPath)) skip(`no Chromium at ${chromiumPath} (Debian package chromium)`);
    const service = path.join(build, "bin", "tavrin-service");
    const sim = path.join(build, "bin", "tavrin-sim");
    for (const program of [service, sim]) {
        if (!fs.existsSync(program)) throw new Error(`${program} is missing: build the tree first`);
    }
    fs.mkdirSync(out, { recursive: true });

    // A user data folder of the test's own: the search goes to the simulator's loopback address,
    // and the service takes pages from localhost only.
    const home = fs.mkdtempSync(path.join(os.tmpdir(), "tavrin-browser-"));
    fs.mkdirSync(path.join(home, "Tavrin"));
    fs.writeFileSync(path.join(home, "Tavrin", "DevDllCfg.ini"),
        "[General]\r\nCfgID=1684418609\r\n[Port]\r\nDiscoveryAddress=127.0.0.2\r\n" +
        "[Service]\r\nAllowedOrigins=http://localhost:*\r\n");
    const description = path.join(home, "devCfg.xml");
    fs.writeFileSync(description,
        '<TavrCfg VTAG="100"><CfgInfo DEVID="1" CFGID="2" CFGLen="1" CFGVer="1" Counts="16">' +
        '<CfgItem Name="Speed" Bits="8" Type="1" MaxVal="200" MinVal="0"/></CfgInfo></TavrCfg>\n');
    const env = { ...process.env, XDG_DATA_HOME: home };

    const searchPort = await freeUdpPort("127.0.0.2");
    const printer = start(sim, ["--device", "--net", "127.0.0.2", "--answer", "0x01=hex:0154562D4E3538", "--discovery",
        `127.0.0.2:${searchPort}`, "--config-xml", description, "--config-packet", configPacket(7)], env);
    const programs = [printer];
    let browser;
    let other;
    try {
        const deviceLine = await printer.waitFor(/^device 0 /);
        const devicePath = deviceLine.split(" ")[2];
        await printer.waitFor(/^ready$/);

        const svc = start(service, ["--port", "0", "--web-root", path.join(here, "pages")], env);
        programs.push(svc);
        const port = Number((await svc.waitFor(/^listening 127\.0\.0\.1:/)).split(":")[1]);
        await svc.waitFor(/^ready$/);

        try {
            browser = await playwright.chromium.launch({
                executablePath: chromiumPath,
                headless: true,
                // As root (CI) Chromium needs --no-sandbox.
                args: process.getuid && process.getuid() === 0 ? ["--no-sandbox"] : [],
                timeout: 60000,
            });
        } catch (e) {
            skip("Chromium did not start: " + e.message.split("\n")[0]);
        }
        const page = await browser.newPage();
        page.on("console", (m) => console.log("page: " + m.text()));
        await page.goto(`http://localhost:${port}/service-test.html?search=${searchPort}`);
        await page.waitForFunction(() => document.title !== "running", null, { timeout: 60000 });
        const text = async (id) => (await page.textContent("#" + id)).trim();
        await page.screenshot({ path: path.join(out, "service-test.png"), fullPage: true });

        check((await text("outcome")) === "done", `the page ran through: ${await text("outcome")}`);
        check((await text("devices")) === `{"RtnCode":0,"RtnVal":1,"pathStr":"${devicePath}"}`,
            `EnumDevPath lists the simulator's device: ${await text("devices")}`);
        check((await text("handle")) === "0", `OpenDev gives handle 0: ${await text("handle")}`);
        check((await text("type")) === '{"RtnCode":0,DevClass:1,"DevType":"TV-N58"}',
            `GetDevType: the class byte, then the type text: ${await text("type")}`);
        const speed = '{"Name":"Speed","Type":"1","MaxVal":"200","MinVal":"0","Tag":"0","CurVal":"';
        check((await text("config")) === `{"RtnCode":0,"Info":[${speed}7"}]}`, `GetCfgInfo: ${await text("config")}`);
        check((await text("set")) === '{"RtnCode":0}', `SetCfgInfo: ${await text("set")}`);
        check((await text("config-after")) === `{"RtnCode":0,"Info":[${speed}9"}]}`,
            `GetCfgInfo after the setting: ${await text("config-after")}`);
        check((await text("closed")) === "true", `CloseDev: ${await text("closed")}`);

        // A page of another origin (a static server on another loopback port) is refused.
        other = http.createServer((req, res) => {
            res.writeHead(200, { "Content-Type": "text/html; charset=utf-8" });
            res.end(fs.readFileSync(path.join(here, "pages", "refused.html")));
        });
        await new Promise((resolve) => other.listen(0, "127.0.0.1", resolve));
        const otherOrigin = `http://127.0.0.1:${other.address().port}`;
        const refusedPage = await browser.newPage();
        await refusedPage.goto(`${otherOrigin}/refused.html?service=${encodeURIComponent(`http://localhost:${port}`)}`);
        await refusedPage.waitForFunction(() => document.title === "done", null, { timeout: 60000 });
        await refusedPage.screenshot({ path: path.join(out, "refused.png"), fullPage: true });
        const httpOutcome = (await refusedPage.textContent("#http")).trim();
        const socketOutcome = (await refusedPage.textContent("#socket")).trim();
        check(httpOutcome.startsWith("refused"), `another origin's HTTP call is refused: ${httpOutcome}`);
        check(socketOutcome === "refused", `another origin's WebSocket is refused: ${socketOutcome}`);
        check(svc.errors.join("").includes(`refused origin ${otherOrigin}`),
            `the service logged the refusal: ${svc.errors.join("").trim()}`);
        console.log(`screenshots in ${out}`);
    } finally {
        if (browser) await browser.close();
        if (other) other.close();
        for (const p of programs.reverse()) {
            p.child.stdin.end();
            p.child.kill("SIGTERM");
        }
        fs.rmSync(home, { recursive: true, force: true });
    }
    if (failures.length) {
        console.log(`${failures.length} check(s) failed`);
        process.exit(1);
    }
    console.log("all checks passed");
    process.exit(0);
}

main().catch((e) => {
    console.log("FAILED: " + e.message);
    process.exit(1);
});
