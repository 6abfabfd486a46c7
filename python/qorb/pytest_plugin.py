"""pytest plugin for qorb: loaded through the "pytest11" entry point of an
installed qorb, or with "-p qorb.pytest_plugin".

Options: --qorb-driver (sim, sysfs or a driver's path) and --qorb-platform
FILE. Fixtures: qorb_platform, the open library for the whole session, and
qorb_dut, a test's DUT record: a test that asks for it runs once per DUT of
the platform file, with ids like test_link[DUT1-09:00.0].
"""
import pytest

import qorb

_KEY = "_qorb_session"


def pytest_addoption(parser):
    group = parser.getgroup("qorb", "PCI Express compliance testing with qorb")
    group.addoption("--qorb-driver", default=None,
                    help="configuration driver: sim, sysfs or a driver's path (default: ini/VERDAapp.ini, else sim)")
    group.addoption("--qorb-platform", default=None, metavar="FILE",
                    help="platform configuration file whose DUTs qorb_dut runs over")


class _Session:
    """The library instance and the platform file, opened on first use."""

    def __init__(self, config):
        self.config, self.platform, self._file = config, None, None

    def open(self):
        if self.platform is None:
            self.platform = qorb.open(self.config.getoption("qorb_driver"))
        return self.platform

    def platform_file(self):
        path = self.config.getoption("qorb_platform")
        if path and self._file is None:
            self._file = qorb.read_platform_file(path)
        return self._file

    def dut_ids(self):
        """One id per DUT entry: DUTn and the slot the entry finds."""
        ids = []
        for n, entry in enumerate(self.platform_file().duts, 1):
            try:
                with self.open().find(dut=entry) as d:
                    where = d.slot
            except qorb.Error:
                where = qorb.PlatformFile.describe(entry) + "-absent"
            ids.append(f"DUT{n}-{where}")
        return ids

    def close(self):
        if self.platform is not None:
            self.platform.close()
            self.platform = None


def _session(config):
    if not hasattr(config, _KEY):
        setattr(config, _KEY, _Session(config))
    return getattr(config, _KEY)


def pytest_generate_tests(metafunc):
    if "qorb_dut" not in metafunc.fixturenames:
        return
    session = _session(metafunc.config)
    if session.platform_file() is None:
        metafunc.parametrize("qorb_dut", [pytest.param(None, marks=pytest.mark.skip(
            reason="no DUTs: give --qorb-platform FILE"))], ids=["no-platform"], indirect=True)
        return
    duts = session.platform_file().duts
    metafunc.parametrize("qorb_dut", range(len(duts)), ids=session.dut_ids(), indirect=True)


def pytest_unconfigure(config):
    if hasattr(config, _KEY):
        getattr(config, _KEY).close()


@pytest.fixture(scope="session")
def qorb_platform(request):
    """The open library (qorb.Platform) for the session."""
    return _session(request.config).open()


@pytest.fixture
def qorb_dut(request, qorb_platform):
    """The DUT of this run, a new record closed after the test."""
    entry = _session(request.config).platform_file().duts[request.param]
    with qorb_platform.find(dut=entry) as dut:
        yield dut
