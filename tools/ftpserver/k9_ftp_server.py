#!/usr/bin/python3
"""Local FTP server for the updater's tests and demo (pyftpdlib, loopback only).

Usage:
  k9_ftp_server.py --root DIR [--port N] [--state DIR] [--watch-stdin [--cleanup DIR]]
                   [--tls-cert FILE --tls-key FILE [--tls-required]]
                   --account USER:PASSWORD:HOMEDIR [--account ...]

With --tls-cert and --tls-key the server offers explicit TLS (AUTH TLS, PBSZ, PROT P) on the
control and data connections; with --tls-required as well it serves nobody in clear.

A relative HOMEDIR lies under --root and is created if missing. When the server listens it
prints one line "K9FTP READY port=N" on stdout. Everything else goes to the state folder:
server.log (pyftpdlib's log and any traceback) and commands.log (one line per command, the
password masked). With --watch-stdin the server ends when its stdin closes (its owner has
gone), removing the --cleanup folder first.

Faults are read from STATE/faults.json before every command and on every new connection,
so a test can change them while the server runs. Keys (all optional):
  refuse_login     true: PASS is answered "530 Login refused." whatever the password
  refuse_list      true: LIST, NLST and MLSD are answered "550 Listing refused."
  retr_550         true: RETR is answered "550 File unavailable."
  drop_data        true: RETR sends the first half of the file, closes the data
                   connection and answers "426 Connection closed; transfer aborted."
  reset_data       true: as drop_data, but the data connection is reset (RST)
  stall_data       true: RETR sends the first half of the file, then nothing more
  fail_after_data  true: RETR sends the whole file, closes the data connection and answers
                   "451 Transfer failed at the server's end."
  stall_login      true: a new connection gets no greeting at all
  list_size_delta  N: listings report every file's size plus N bytes
  reject_store     true: a completed STOR is answered "552 Requested file action aborted.
                   Exceeded storage allocation." (the file stays as received)
  short_store      true: a completed STOR is answered "226" as usual, but only the first half
                   of the file is kept
  slow_final_reply S: the reply that ends a transfer comes S seconds after its data
  refuse_mdtm      true: MDTM is answered "502 Command not implemented." as by a server
                   without it

TYPE A transfers move the bytes unchanged, as on a server whose native line end is CR LF.
"""

import argparse
import json
import logging
import os
import shutil
import signal
import socket
import struct
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler, TLS_DTPHandler, TLS_FTPHandler
from pyftpdlib.servers import FTPServer

LOGGER = logging.getLogger("k9ftp")

REPLY_REFUSE_LOGIN = "530 Login refused."
REPLY_REFUSE_LIST = "550 Listing refused."
REPLY_RETR_550 = "550 File unavailable."
REPLY_DROPPED = "426 Connection closed; transfer aborted."
REPLY_FAILED_AT_END = "451 Transfer failed at the server's end."
REPLY_REJECT_STORE = "552 Requested file action aborted. Exceeded storage allocation."
REPLY_NO_MDTM = "502 Command not implemented."


class FaultFile:
    """The faults in force, re-read when the control file changes."""

    def __init__(self, path):
        self.path = path
        self.stamp = None
        self.faults = {}

    def current(self):
        try:
            st = os.stat(self.path)
            stamp = (st.st_mtime_ns, st.st_size, st.st_ino)
        except OSError:
            self.stamp, self.faults = None, {}
            return self.faults
        if stamp != self.stamp:
            try:
                with open(self.path, "r", encoding="utf-8") as f:
                    self.faults = json.load(f) or {}
                self.stamp = stamp
            except (OSError, ValueError):
                # Caught mid-write: keep the previous set and look again next time.
                pass
        return self.faults


class K9FS(AbstractedFS):
    """Listings may lie about file sizes when list_size_delta is set."""

    def lstat(self, path):
        st = super().lstat(path)
        delta = int(self.cmd_channel.fault("list_size_delta") or 0)
        if delta and not self.isdir(path):
            fields = list(st)
            fields[6] = max(0, st.st_size + delta)  # st_size
            st = os.stat_result(fields)
        return st


class K9DTPHandler(DTPHandler):
    def close(self):
        if self._closed:
            return super().close()
        if self.receive and self.transfer_finished and self.cmd_channel.fault("reject_store"):
            self._resp = (REPLY_REJECT_STORE, logging.info)
        if self.receive and self.transfer_finished and self.cmd_channel.fault("short_store"):
            # A server that confirms a file it did not keep whole.
            self.file_obj.flush()
            os.truncate(self.file_obj.name, os.path.getsize(self.file_obj.name) // 2)
        delay = float(self.cmd_channel.fault("slow_final_reply") or 0)
        if delay > 0 and self._resp:
            # The data is all there; the verdict on it comes late.
            resp, channel = self._resp, self.cmd_channel
            self._resp = ()
            channel.ioloop.call_later(
                delay, lambda: None if channel._closed else channel.respond(*resp))
        return super().close()


class K9Handler(FTPHandler):
    faults = None  # FaultFile, set at start-up
    command_log = None  # path
    dtp_handler = K9DTPHandler
    abstracted_fs = K9FS
    auth_failed_timeout = 0
    banner = "K9 test FTP server ready."

    def __init__(self, *args, **kwargs):
        self._faulty_retr = None
        super().__init__(*args, **kwargs)

    def fault(self, name):
        return self.faults.current().get(name)

    def handle(self):
        if self.fault("stall_login"):
            self.on_connect()
            return
        super().handle()

    def pre_process_command(self, line, cmd, arg):
        self.faults.current()
        shown = "PASS ****" if cmd == "PASS" else line
        try:
            with open(self.command_log, "a", encoding="utf-8") as f:
                f.write(shown + "\n")
        except OSError:
            pass
        super().pre_process_command(line, cmd, arg)

    def ftp_TYPE(self, line):
        super().ftp_TYPE(line)
        # CR LF is this server's native line end, so ASCII needs no conversion.
        self._current_type = "i"

    def ftp_PASS(self, line):
        if self.fault("refuse_login") and not self.authenticated:
            self.respond(REPLY_REFUSE_LOGIN)
            self.username = ""
            return
        super().ftp_PASS(line)

    def _refuse_list(self):
        if self.fault("refuse_list"):
            self.respond(REPLY_REFUSE_LIST)
            return True
        return False

    def ftp_LIST(self, path):
        if self._refuse_list():
            return None
        return super().ftp_LIST(path)

    def ftp_NLST(self, path):
        if self._refuse_list():
            return None
        return super().ftp_NLST(path)

    def ftp_MLSD(self, path):
        if self._refuse_list():
            return None
        return super().ftp_MLSD(path)

    def ftp_MDTM(self, path):
        if self.fault("refuse_mdtm"):
            self.respond(REPLY_NO_MDTM)
            return None
        return super().ftp_MDTM(path)

    def ftp_RETR(self, file):
        if self.fault("retr_550"):
            self.respond(REPLY_RETR_550)
            return None
        mode = None
        for name in ("drop_data", "reset_data", "stall_data", "fail_after_data"):
            if self.fault(name):
                mode = name
                break
        if mode is None:
            return super().ftp_RETR(file)
        try:
            with self.fs.open(file, "rb") as f:
                data = f.read()
        except OSError as err:
            self.respond("550 %s." % os.strerror(err.errno))
            return None
        self._faulty_retr = (data if mode == "fail_after_data" else data[:len(data) // 2], mode)
        if self.data_channel is not None:
            self.respond("125 Data connection already open. Transfer starting.")
            self._start_faulty_retr()
        else:
            self.respond("150 File status okay. About to open data connection.")
        return file

    def _on_dtp_connection(self):
        if self._faulty_retr is None:
            return super()._on_dtp_connection()
        if self._dtp_acceptor is not None:
            self._dtp_acceptor.close()
            self._dtp_acceptor = None
        if self._idler is not None and not self._idler.cancelled:
            self._idler.cancel()
        self._start_faulty_retr()
        return None

    def _start_faulty_retr(self):
        half, mode = self._faulty_retr
        self._faulty_retr = None
        dc = self.data_channel
        dc.cmd = "RETR"
        if half:
            dc.push(half)
        if mode == "stall_data":
            return
        poller = None

        def finish_when_sent():
            if dc._closed:
                poller.cancel()
                return
            if len(dc.producer_fifo):
                return
            poller.cancel()
            if mode == "reset_data":
                dc.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                     struct.pack("ii", 1, 0))
            dc._resp = (REPLY_FAILED_AT_END if mode == "fail_after_data" else REPLY_DROPPED,
                        logging.info)
            dc.close()

        poller = self.ioloop.call_every(0.005, finish_when_sent)


class K9TLSDTPHandler(K9DTPHandler, TLS_DTPHandler):
    def readable(self):
        # pyftpdlib takes a data connection that speaks before its RETR or STOR for one whose
        # client went away; curl shakes hands on it right after connecting.
        return True if self._ssl_accepting else super().readable()


class K9TLSHandler(K9Handler, TLS_FTPHandler):
    dtp_handler = K9TLSDTPHandler


def parse_account(text):
    parts = text.split(":", 2)
    if len(parts) != 3 or not parts[0]:
        raise argparse.ArgumentTypeError("account must be USER:PASSWORD:HOMEDIR")
    return parts


def watch_stdin(cleanup):
    # The owner keeps our stdin open; when it goes away, so do we, and so does the folder
    # the owner could no longer remove if it died.
    try:
        while sys.stdin.buffer.read(4096):
            pass
    except OSError:
        pass
    if cleanup:
        shutil.rmtree(cleanup, ignore_errors=True)
    os._exit(0)


def main():
    parser = argparse.ArgumentParser(description="Local FTP server for the K9 updater")
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--state", default=None)
    parser.add_argument("--account", action="append", type=parse_account, default=[])
    parser.add_argument("--watch-stdin", action="store_true")
    parser.add_argument("--cleanup", default=None,
                        help="folder to remove when stdin closes (with --watch-stdin)")
    parser.add_argument("--tls-cert", default=None)
    parser.add_argument("--tls-key", default=None)
    parser.add_argument("--tls-required", action="store_true")
    args = parser.parse_args()

    root = os.path.abspath(args.root)
    state = os.path.abspath(args.state or os.path.join(root, ".state"))
    os.makedirs(root, exist_ok=True)
    os.makedirs(state, exist_ok=True)

    log_file = open(os.path.join(state, "server.log"), "a", encoding="utf-8", buffering=1)
    sys.stderr = log_file
    handler = logging.StreamHandler(log_file)
    handler.setFormatter(logging.Formatter("%(asctime)s %(levelname)s %(message)s"))
    for name in ("pyftpdlib", "k9ftp"):
        logging.getLogger(name).addHandler(handler)
        logging.getLogger(name).setLevel(logging.INFO)
        logging.getLogger(name).propagate = False

    authorizer = DummyAuthorizer()
    for user, password, home in args.account:
        home = home if os.path.isabs(home) else os.path.join(root, home)
        os.makedirs(home, exist_ok=True)
        authorizer.add_user(user, password, home, perm="elradfmwMT")

    K9Handler.authorizer = authorizer
    K9Handler.faults = FaultFile(os.path.join(state, "faults.json"))
    K9Handler.command_log = os.path.join(state, "commands.log")
    ftp_handler = K9Handler
    if args.tls_cert:
        ftp_handler = K9TLSHandler
        ftp_handler.certfile = args.tls_cert
        ftp_handler.keyfile = args.tls_key
        ftp_handler.tls_control_required = args.tls_required
        ftp_handler.tls_data_required = args.tls_required

    server = FTPServer(("127.0.0.1", args.port), ftp_handler)
    port = server.socket.getsockname()[1]
    if args.watch_stdin:
        threading.Thread(target=watch_stdin, args=(args.cleanup,), daemon=True).start()

        def on_term(signum, frame):
            # The owner died (its death signal) or stops us: leave nothing behind.
            if args.cleanup:
                shutil.rmtree(args.cleanup, ignore_errors=True)
            os._exit(0)

        signal.signal(signal.SIGTERM, on_term)
    sys.stdout.write("K9FTP READY port=%d\n" % port)
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
