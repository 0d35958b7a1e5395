"""Two network namespaces joined by a veth pair: the program's side and the peer's side."""
import contextlib
import ctypes
import os
import signal
import subprocess
import threading

CLONE_NEWNET = 0x40000000
_libc = ctypes.CDLL(None, use_errno=True)
_setns_lock = threading.Lock()

PREFIX = "vlm-"


def run(*args, check=True, **kwargs):
    return subprocess.run(list(args), check=check, capture_output=True, text=True, **kwargs)


def _setns(fd):
    if _libc.setns(fd, CLONE_NEWNET) != 0:
        err = ctypes.get_errno()
        raise OSError(err, os.strerror(err))


def remove_stale_namespaces():
    """Removes namespaces left behind by a test run that was killed."""
    out = run("ip", "netns", "list", check=False).stdout
    for line in out.splitlines():
        name = line.split()[0] if line.split() else ""
        if not name.startswith(PREFIX):
            continue
        try:
            pid = int(name[len(PREFIX):].split("-")[0])
        except ValueError:
            continue
        if pid != os.getpid() and not os.path.exists(f"/proc/{pid}"):
            _kill_namespace_processes(name)
            run("ip", "netns", "delete", name, check=False)


def _kill_namespace_processes(name):
    pids = run("ip", "netns", "pids", name, check=False).stdout.split()
    for pid in pids:
        with contextlib.suppress(ProcessLookupError, ValueError):
            os.kill(int(pid), signal.SIGKILL)


class Namespace:
    def __init__(self, name, address):
        self.name = name
        self.address = address

    def exec_args(self):
        return ["ip", "netns", "exec", self.name]

    def run(self, *args, check=True, **kwargs):
        return run(*self.exec_args(), *args, check=check, **kwargs)

    def run_detached(self, *args, **kwargs):
        """Runs a command that leaves a daemon behind, with no pipes the daemon could hold."""
        return subprocess.run(
            self.exec_args() + list(args),
            check=True,
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            **kwargs,
        )

    def popen(self, args, **kwargs):
        return subprocess.Popen(self.exec_args() + list(args), **kwargs)

    @contextlib.contextmanager
    def entered(self):
        """Runs the block with this thread inside the namespace; sockets created there stay in it."""
        with _setns_lock:
            own = os.open(f"/proc/thread-self/ns/net", os.O_RDONLY)
            target = os.open(f"/var/run/netns/{self.name}", os.O_RDONLY)
            try:
                _setns(target)
                try:
                    yield self
                finally:
                    _setns(own)
            finally:
                os.close(own)
                os.close(target)

    def socket(self, *args, **kwargs):
        import socket

        with self.entered():
            return socket.socket(*args, **kwargs)

    def kill_all(self):
        _kill_namespace_processes(self.name)

    def udp_drops(self, port):
        """Datagrams the kernel dropped on this namespace's UDP sockets bound to `port` (a full
        receive buffer): the last column of /proc/net/udp."""
        total = 0
        for line in self.run("cat", "/proc/net/udp").stdout.splitlines()[1:]:
            fields = line.split()
            if len(fields) > 12 and int(fields[1].split(":")[1], 16) == port:
                total += int(fields[-1])
        return total


class NetworkPair:
    """Program side 10.77.0.1/24, peer side 10.77.0.2/24, multicast routed over the veth pair."""

    _counter = 0

    def __init__(self, gw_address="10.77.0.1", peer_address="10.77.0.2"):
        NetworkPair._counter += 1
        tag = f"{os.getpid()}-{NetworkPair._counter}"
        self.gw = Namespace(f"{PREFIX}{tag}-g", gw_address)
        self.peer = Namespace(f"{PREFIX}{tag}-p", peer_address)
        self._veth = (f"vg{os.getpid() % 100000}{NetworkPair._counter}", f"vp{os.getpid() % 100000}{NetworkPair._counter}")
        self._created = []

    def create(self):
        for ns in (self.gw, self.peer):
            run("ip", "netns", "add", ns.name)
            self._created.append(ns)
            ns.run("ip", "link", "set", "lo", "up")
        gw_if, peer_if = self._veth
        run("ip", "link", "add", gw_if, "type", "veth", "peer", "name", peer_if)
        run("ip", "link", "set", gw_if, "netns", self.gw.name)
        run("ip", "link", "set", peer_if, "netns", self.peer.name)
        for ns, ifname in ((self.gw, gw_if), (self.peer, peer_if)):
            ns.run("ip", "addr", "add", f"{ns.address}/24", "dev", ifname)
            ns.run("ip", "link", "set", ifname, "up")
            ns.run("ip", "route", "add", "224.0.0.0/4", "dev", ifname)
            ns.interface = ifname
        return self

    def destroy(self):
        for ns in reversed(self._created):
            ns.kill_all()
            run("ip", "netns", "delete", ns.name, check=False)
        self._created = []
