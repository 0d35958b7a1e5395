import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))

from harness import netns, wine  # noqa: E402


def pytest_sessionstart(session):
    if os.geteuid() != 0:
        pytest.exit("the end-to-end tests need root (network namespaces): run tools/test.sh", returncode=2)
    netns.remove_stale_namespaces()


@pytest.fixture
def net():
    """Program side 10.77.0.1, peer side 10.77.0.2, joined by veth, multicast routed."""
    pair = netns.NetworkPair()
    try:
        pair.create()
        yield pair
    finally:
        pair.destroy()


@pytest.fixture
def gw(net):
    """Wine inside the program's namespace, with fresh settings and log folders."""
    side = wine.WineSide(net.gw)
    try:
        side.start_server()
        yield side
    finally:
        side.stop()
