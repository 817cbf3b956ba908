#!/usr/bin/python3
"""A TLS-terminating CONNECT proxy on 127.0.0.1 that hands each host to a plain-HTTP stand-in.

    /usr/bin/python3 tests/Support/tls-proxy.py --dir DIR --map api.anthropic.com=PORT [--map HOST=PORT ...]

It makes a throwaway certificate authority in DIR (ca.pem, kept when it is already there) and one
certificate per mapped host signed by it, listens on a free port of 127.0.0.1 and prints
"ready PORT" on its first line of output. DIR/proxy.env then holds the two variables a program
needs to go through it:

    https_proxy=http://127.0.0.1:PORT
    SSL_CERT_FILE=DIR/ca.pem

A CONNECT to a mapped host (any port) is answered "200", the TLS session is ended here with that
host's certificate, and the bytes inside go unchanged to 127.0.0.1:PORT of the mapping. A CONNECT
to any other host is answered "502". Runs until it is terminated.
"""

import argparse
import asyncio
import os
import ssl
import subprocess
import sys


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def make_authority(folder):
    ca, key = os.path.join(folder, "ca.pem"), os.path.join(folder, "ca.key")
    if not (os.path.exists(ca) and os.path.exists(key)):
        openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                "-keyout", key, "-out", ca, "-days", "2", "-subj", "/CN=Brevalto throwaway test CA",
                "-addext", "basicConstraints=critical,CA:TRUE",
                "-addext", "keyUsage=critical,keyCertSign,cRLSign")
    return ca, key


def make_certificate(folder, ca, ca_key, host):
    base = os.path.join(folder, host)
    if os.path.exists(base + ".pem") and os.path.exists(base + ".key"):
        return base + ".pem", base + ".key"
    with open(base + ".ext", "w") as ext:
        ext.write(f"subjectAltName=DNS:{host}\nbasicConstraints=CA:FALSE\n"
                  "keyUsage=critical,digitalSignature\nextendedKeyUsage=serverAuth\n")
    openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", base + ".key", "-out", base + ".csr", "-subj", f"/CN={host}")
    openssl("x509", "-req", "-in", base + ".csr", "-CA", ca, "-CAkey", ca_key, "-CAcreateserial",
            "-out", base + ".pem", "-days", "2", "-extfile", base + ".ext")
    return base + ".pem", base + ".key"


async def pipe(reader, writer):
    try:
        while data := await reader.read(65536):
            writer.write(data)
            await writer.drain()
    except (ConnectionError, ssl.SSLError, OSError):
        pass
    finally:
        try:
            writer.close()
        except Exception:
            pass


def serve(mappings, contexts):
    async def handle(reader, writer):
        try:
            head = await reader.readuntil(b"\r\n\r\n")
            method, target, _ = head.split(b"\r\n", 1)[0].decode("latin-1").split(" ", 2)
            host = target.rsplit(":", 1)[0].lower()
            if method != "CONNECT" or host not in mappings:
                writer.write(b"HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                await writer.drain()
                writer.close()
                return
            writer.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
            await writer.drain()
            await writer.start_tls(contexts[host])
            upstream_reader, upstream_writer = await asyncio.open_connection("127.0.0.1", mappings[host])
            await asyncio.gather(pipe(reader, upstream_writer), pipe(upstream_reader, writer))
        except (ConnectionError, ssl.SSLError, OSError, ValueError, asyncio.IncompleteReadError,
                asyncio.LimitOverrunError):
            writer.close()

    return handle


async def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--dir", required=True, help="folder for the authority, the certificates and proxy.env")
    parser.add_argument("--map", action="append", default=[], metavar="HOST=PORT",
                        help="hand HOST to the stand-in on 127.0.0.1:PORT")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (default: a free one)")
    options = parser.parse_args()

    os.makedirs(options.dir, mode=0o700, exist_ok=True)
    ca, ca_key = make_authority(options.dir)
    mappings, contexts = {}, {}
    for entry in options.map:
        host, _, port = entry.partition("=")
        host = host.strip().lower()
        mappings[host] = int(port)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(*make_certificate(options.dir, ca, ca_key, host))
        context.set_alpn_protocols(["http/1.1"])
        contexts[host] = context

    server = await asyncio.start_server(serve(mappings, contexts), "127.0.0.1", options.port)
    port = server.sockets[0].getsockname()[1]
    with open(os.path.join(options.dir, "proxy.env"), "w") as env:
        env.write(f"https_proxy=http://127.0.0.1:{port}\nSSL_CERT_FILE={os.path.abspath(ca)}\n")
    print(f"ready {port}", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
