"""Waiting for a condition in the end-to-end tests."""
import time


def wait_until(what, predicate, timeout=20.0):
    """Polls predicate() until it gives a true value, and returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what} did not happen within {timeout} s")
        time.sleep(0.1)
