#!/usr/bin/python3
"""Carries a Wine program's standard output and error to this process's own.

scripts/wine-run starts this relay, then becomes the Wine program with its
output going into the two FIFOs of FIFO_DIR (named 1 and 2). The relay ends
once the program (process PID) has ended and everything it wrote has been
passed on.

Why: the first program of a Wine session starts the session's system processes
(services, rpcss, plugplay, the desktop's explorer...), and each program may
start others (a surrogate); all of them inherit the program's output. Given
CTest's pipe, they would hold it open until the whole session ends, and CTest
waits for the pipe, not only for the program: a test would last as long as the
last Wine program of the prefix, or for ever. Here they hold the relay's FIFOs,
which nobody waits for.

usage: wine-relay.py FIFO_DIR PID
"""
import errno
import os
import select
import shutil
import sys


def main() -> int:
    fifo_dir, pid = sys.argv[1], int(sys.argv[2])
    try:
        program = os.pidfd_open(pid)
    except OSError:
        program = None
    # Non-blocking opens: the program's side opens the FIFOs for writing only
    # after this, and its opens wait for these.
    streams = {}
    for name, target in (("1", sys.stdout.fileno()), ("2", sys.stderr.fileno())):
        fd = os.open(os.path.join(fifo_dir, name), os.O_RDONLY | os.O_NONBLOCK)
        streams[fd] = target
    poller = select.poll()
    for fd in streams:
        poller.register(fd, select.POLLIN)
    if program is not None:
        poller.register(program, select.POLLIN)

    def forward(fd: int) -> bool:
        """Passes on what the FIFO holds; False at its end or when it is empty."""
        try:
            data = os.read(fd, 65536)
        except OSError as e:
            if e.errno == errno.EAGAIN:
                return False
            raise
        if not data:
            poller.unregister(fd)
            del streams[fd]
            return False
        view = memoryview(data)
        while view:
            view = view[os.write(streams[fd], view):]
        return True

    def program_ended() -> bool:
        # Without a process descriptor: the process is gone or a zombie.
        try:
            with open(f"/proc/{pid}/stat") as stat:
                return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
        except OSError:
            return True

    ended = False
    while streams and not ended:
        for fd, _ in poller.poll(None if program is not None else 200):
            if fd == program:
                ended = True
            elif fd in streams:
                forward(fd)
        if program is None and program_ended():
            ended = True
    # The program has ended: what it wrote is in the FIFOs. Whatever else still
    # holds them (the session's processes) writes nothing that is waited for.
    for fd in list(streams):
        while fd in streams and forward(fd):
            pass
    shutil.rmtree(fifo_dir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
