// tavrin-client.js: the browser control's methods for pages in today's browsers, through the local
// device service tavrin-service on this machine. An ES module without a build step:
//
//   import { TavrinClient } from "http://localhost:19100/tavrin-client.js";
//   const ocx = await TavrinClient.connect();      // was: new ActiveXObject("TAVRINOCX.TavrinOcxCtrl.1")
//   const list = JSON.parse(await ocx.EnumDevPath(0x401, "", 9000, 0));
//
// Every method has the control's name and argument order and returns a Promise of what the
// control returns: the same JSON text (parse it as before), the device handle of OpenDev, the
// flag of CloseDev. A refused call (an origin that is not allowed, a handle of another page,
// wrong argument types) rejects with a TavrinServiceError carrying the service's status and message.

const DEFAULT_SERVICE = "http://localhost:19100";

function defaultService() {
    try {
        const own = new URL(import.meta.url);
        if ((own.protocol === "http:" || own.protocol === "https:") && own.pathname.endsWith("/tavrin-client.js")) {
            return own.origin;
        }
    } catch (e) {
        // not loaded from a URL the service serves
    }
    return DEFAULT_SERVICE;
}

export class TavrinServiceError extends Error {
    constructor(status, message) {
        super(message);
        this.name = "TavrinServiceError";
        this.status = status;
    }
}

export class TavrinClient {
    // service: the service's origin ("http://localhost:19100"); by default the one this module was
    // loaded from. Without connect() every call is one HTTP request.
    constructor(service = defaultService()) {
        this.service = String(service).replace(/\/+$/, "");
        this.socket = null;
        this.nextId = 1;
        this.pending = new Map();
        this.listeners = new Map();
    }

    // A client whose calls go over one WebSocket: devices it opens are closed when the page goes
    // away (or close() is called), and it can receive events.
    static async connect(service = defaultService()) {
        const client = new TavrinClient(service);
        await client.open();
        return client;
    }

    open() {
        if (this.socket) return Promise.resolve(this);
        const url = this.service.replace(/^http/, "ws") + "/ws";
        return new Promise((resolve, reject) => {
            const socket = new WebSocket(url);
            socket.onopen = () => {
                this.socket = socket;
                resolve(this);
            };
            socket.onerror = () => {
                if (!this.socket) reject(new TavrinServiceError(0, "cannot connect to " + url));
            };
            socket.onclose = () => {
                this.socket = null;
                for (const { reject: fail } of this.pending.values()) {
                    fail(new TavrinServiceError(0, "the connection to the service was closed"));
                }
                this.pending.clear();
            };
            socket.onmessage = (message) => this.receive(message.data);
        });
    }

    close() {
        if (this.socket) this.socket.close();
    }

    receive(data) {
        let message;
        try {
            message = JSON.parse(data);
        } catch (e) {
            return;
        }
        if (message.event !== undefined) {
            for (const listener of this.listeners.get(message.event) || []) listener(message);
            return;
        }
        const waiting = this.pending.get(message.id);
        if (!waiting) return;
        this.pending.delete(message.id);
        if (message.error) waiting.reject(new TavrinServiceError(message.error.status, message.error.message));
        else waiting.resolve(message.result);
    }

    async call(method, params) {
        if (this.socket) {
            const id = this.nextId++;
            return new Promise((resolve, reject) => {
                this.pending.set(id, { resolve, reject });
                this.socket.send(JSON.stringify({ id, method, params }));
            });
        }
        const response = await fetch(this.service + "/" + method, {
            method: "POST",
            headers: { "Content-Type": "application/json" },
            body: JSON.stringify(params),
        });
        const text = await response.text();
        if (!response.ok) {
            let message = text;
            try {
                message = JSON.parse(text).error;
            } catch (e) {
                // the text as it came
            }
            throw new TavrinServiceError(response.status, message);
        }
        if (method === "OpenDev") return Number(text);
        if (method === "CloseDev") return text === "true";
        return text;
    }

    // The device list events of a WebSocket client: listener({event, portType, vID, pID, result})
    // now and whenever the list of that kind changes.
    async onDevices(listener, portType = 0x401, vID = 0, pID = 0, intervalMs = 3000) {
        if (!this.socket) await this.open();
        if (!this.listeners.has("devices")) this.listeners.set("devices", []);
        this.listeners.get("devices").push(listener);
        return this.call("subscribe", { event: "devices", portType, vID, pID, intervalMs });
    }

    EnumDevPath(portType, pathStr, vID, pID) {
        return this.call("EnumDevPath", { portType, pathStr: pathStr ?? "", vID, pID });
    }
    EnumProtoCode(idx) {
        return this.call("EnumProtoCode", { idx });
    }
    OpenDev(path, readTimeout, writeTimeout, portType, portMode) {
        return this.call("OpenDev", { path, readTimeout, writeTimeout, portType, portMode });
    }
    DevIoCtrl(ctrlCode, inDats, handle) {
        return this.call("DevIoCtrl", { ctrlCode, inDats, handle });
    }
    CloseDev(pHandle) {
        return this.call("CloseDev", { pHandle });
    }
    GetDevType(hDev) {
        return this.call("GetDevType", { hDev });
    }
    GetCfgInfo(hDev) {
        return this.call("GetCfgInfo", { hDev });
    }
    SetCfgInfo(hDev, name, val) {
        return this.call("SetCfgInfo", { hDev, name, val });
    }
    // The control shows its About box; a page gets the service's name and version instead.
    async AboutBox() {
        const response = await fetch(this.service + "/version");
        return response.text();
    }
}

export default TavrinClient;
