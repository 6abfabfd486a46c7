"""The qorb pytest plugin run by pytester: options, fixtures, DUT ids."""
PLATFORM = """<platform>
  <DUT bus="9" device="0" function="0"/>
  <DUT vendorid="5153" deviceid="1010"/>
  <DUT vendorid="dead" deviceid="beef"/>
</platform>
"""
TESTS = """
def test_link(qorb_dut, qorb_platform):
    assert qorb_dut.pcie()["link"]["width"] >= 1
    assert qorb_platform.find(slot=qorb_dut.slot).device_id == qorb_dut.device_id

def test_plain():
    pass
"""


def test_runs_once_per_dut(pytester):
    pytester.makefile(".xml", lab=PLATFORM)
    pytester.makepyfile(test_lab=TESTS)
    result = pytester.runpytest("-p", "qorb.pytest_plugin", "--qorb-driver", "sim", "--qorb-platform", "lab.xml",
                                "-v", "--junitxml=report.xml")
    result.stdout.fnmatch_lines(["*test_link?DUT1-09:00.0? PASSED*", "*test_link?DUT2-03:00.0? PASSED*",
                                 "*test_link?DUT3-dead:beef-absent? ERROR*", "*test_plain PASSED*"])
    result.assert_outcomes(passed=3, errors=1)
    assert 'name="test_link[DUT2-03:00.0]"' in (pytester.path / "report.xml").read_text()


def test_without_platform_file_dut_tests_skip(pytester):
    pytester.makepyfile(test_lab=TESTS)
    result = pytester.runpytest("-p", "qorb.pytest_plugin", "-rs")
    result.assert_outcomes(passed=1, skipped=1)
    result.stdout.fnmatch_lines(["*give --qorb-platform FILE*"])


def test_options_in_help(pytester):
    result = pytester.runpytest("-p", "qorb.pytest_plugin", "--help")
    result.stdout.fnmatch_lines(["*--qorb-driver=QORB_DRIVER*", "*--qorb-platform=FILE*"])
