#!/usr/bin/python3
"""Runs the ModemManager tests against a private system bus.

First with the bus alone (no ModemManager on it), then with a mock
ModemManager that serves InhibitDevice(s, b) and records its calls, which the
tests read through the mock's own interface. Exits 77 (skipped) when the
Python D-Bus mock is not installed.
"""
import os
import subprocess
import sys

try:
    import dbus  # noqa: F401
    import dbusmock
except ImportError:
    print("python3-dbus and python3-dbusmock are needed for this test", file=sys.stderr)
    sys.exit(77)

SERVICE = "org.freedesktop.ModemManager1"
OBJECT = "/org/freedesktop/ModemManager1"


def run(program, pattern, phase):
    env = dict(os.environ, FIRMORA_MOCK_MODEM_MANAGER=phase)
    return subprocess.run([program, "--gtest_filter=" + pattern], env=env, check=False).returncode


def main():
    program = sys.argv[1]
    dbusmock.DBusTestCase.start_system_bus()
    mock = None
    try:
        code = run(program, "*WithoutModemManager*", "absent")
        if code:
            return code
        mock = dbusmock.DBusTestCase.spawn_server(SERVICE, OBJECT, SERVICE, system_bus=True,
                                                  stdout=subprocess.DEVNULL)
        return run(program, "-*WithoutModemManager*", "present")
    finally:
        if mock:
            mock.terminate()
            mock.wait()
        dbusmock.DBusTestCase.stop_dbus(dbusmock.DBusTestCase.system_bus_pid)


if __name__ == "__main__":
    sys.exit(main())
