"""The DNS-SD layer under Wine on 10.77.0.1 (console driver: daemon and client calls) against
python3-zeroconf 0.47 on 10.77.0.2."""
import time

from harness.dnssd_driver import DnssdDriver, service_info, zeroconf_peer

RTSP = "_rtsp._tcp.local."
SUB = "_corvane_session"


def adds(events, rid):
    return [e for e in events if e[0] == rid and int(e[2]) & 2]


def removes(events, rid):
    return [e for e in events if e[0] == rid and e[1] != "failed" and not int(e[2]) & 2 and e[4] == "0"]


def test_zeroconf_service_is_enumerated_browsed_resolved_and_addressed(net, gw):
    driver = DnssdDriver(gw)
    assert driver.start().startswith("ready=1")
    ifindex = driver.interface_index(net.gw.address)
    with zeroconf_peer(net) as zc:
        x = service_info("X", RTSP, 8554, {"a": "1"}, subtype=SUB)
        base = service_info("X base", RTSP, 8554)
        zc.register_service(x)
        zc.register_service(base)
        assert driver.call("browse", "types", 0, "_services._dns-sd._udp") == 0
        assert driver.call("browse", "sub", 0, f"_rtsp._tcp,{SUB}") == 0
        assert driver.call("browse", "base", 0, "_rtsp._tcp") == 0
        driver.wait_event("type", lambda e: e[0] == "types" and e[5:] == ["_rtsp", "_tcp.local.", "."])
        [sub] = driver.wait_event("subtype add", lambda e: e[0] == "sub" and e[5] == "X")
        assert sub[3] == str(ifindex) and sub[6:] == ["_rtsp._tcp.", "local."]
        driver.wait_event("base add", lambda e: e[0] == "base" and e[5] == "X base")

        assert driver.call("resolve", "res", ifindex, "X", "_rtsp._tcp.", "local.") == 0
        [res] = driver.wait_event("resolve", lambda e: e[0] == "res")
        assert res[3:] == [str(ifindex), "0", "X._rtsp._tcp.local.", "peer.local.", "8554", "03613d31"]
        assert driver.call("addr", "addr", ifindex, "peer.local.") == 0
        [addr] = driver.wait_event("address", lambda e: e[0] == "addr")
        assert addr[2:6] == ["2", str(ifindex), "0", "peer.local."] and addr[6] == "10.77.0.2"

        zc.unregister_service(x)
        driver.wait_event("subtype remove", lambda e: removes([e], "sub"))
        time.sleep(2)
        assert len(removes(driver.events(), "sub")) == 1
        assert [e[5] for e in adds(driver.events(), "types")] == ["_rtsp"]


class Collector:
    def __init__(self):
        self.added, self.removed = [], []

    def add_service(self, zc, type_, name):
        self.added.append((type_, name))

    def remove_service(self, zc, type_, name):
        self.removed.append((type_, name))

    def update_service(self, zc, type_, name):
        pass


def test_registration_is_seen_by_zeroconf_and_goes_with_a_goodbye(net, gw):
    from zeroconf import ServiceBrowser

    from harness.dnssd_driver import goodbyes_from, mdns_listener
    from harness.wait import wait_until

    driver = DnssdDriver(gw)
    driver.start()
    with zeroconf_peer(net) as zc:
        base, sub = Collector(), Collector()
        browsers = [ServiceBrowser(zc, RTSP, base), ServiceBrowser(zc, f"_corvane._sub.{RTSP}", sub)]
        assert driver.call("register", "r", 0, "Gateway One", "_rtsp._tcp,_corvane", 8080, "", 0) == 0
        driver.wait_event("registered", lambda e: e[0] == "r" and e[1] == "register")
        assert driver.events()[-1][2:] == ["2", "0", "0", "Gateway One", "_rtsp._tcp.", "local."]
        wait_until("both browsers saw it", lambda: base.added and sub.added)
        assert base.added == [(RTSP, f"Gateway One.{RTSP}")]
        assert sub.added == [(f"_corvane._sub.{RTSP}", f"Gateway One.{RTSP}")]
        info = zc.get_service_info(RTSP, f"Gateway One.{RTSP}", timeout=3000)
        assert info.port == 8080 and info.text == b"\x00"
        assert info.server.endswith(".local.") and info.parsed_addresses() == [net.gw.address]

        listener = mdns_listener(net)
        driver.command("close|r")
        closed = time.monotonic()
        goodbyes = goodbyes_from(listener, net.gw.address, 1.5)
        assert goodbyes and goodbyes[0][0] - closed < 1.0
        assert f"Gateway One.{RTSP}" in goodbyes[0][1]
        wait_until("both browsers lost it", lambda: base.removed and sub.removed, timeout=5)
        for b in browsers:
            b.cancel()


def test_a_name_zeroconf_holds_is_renamed(net, gw):
    driver = DnssdDriver(gw)
    driver.start()
    with zeroconf_peer(net) as zc:
        zc.register_service(service_info("Taken", RTSP, 9000))
        assert driver.call("register", "r", 0, "Taken", "_rtsp._tcp", 8080, "", 0) == 0
        [reply] = driver.wait_event("registered", lambda e: e[0] == "r")
        assert reply[4:6] == ["0", "Taken (2)"]
