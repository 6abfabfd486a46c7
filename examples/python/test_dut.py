"""Three checks on every DUT of a platform file, with the qorb pytest plugin:

    pytest -p qorb.pytest_plugin --qorb-driver sim \
        --qorb-platform examples/builtin-platform.xml --junitxml=results.xml examples/python

Each test runs once per DUT (test_link_retrain[DUT1-03:00.0] ...) and writes
its verdicts into an XML log beside pytest's own report.
"""
import qorb


def test_register_read(qorb_dut):
    # The identity registers agree with the record the search made.
    assert qorb_dut.read(0x00, 2) == qorb_dut.vendor_id
    assert qorb_dut.read(0x02, 2) == qorb_dut.device_id


def test_link_retrain(qorb_dut, tmp_path):
    with qorb.XmlLog(tmp_path / "retrain.xml") as log, log.test("link retrain", dut=qorb_dut):
        width = qorb_dut.pcie()["link"]["width"]
        qorb_dut.retrain()
        trained = qorb_dut.wait_trained(timeout=1.0)
        log.assertion("success" if trained else "fail", "PHYLINK.1.1#1.1", f"retrained: {trained}\n")
    assert trained
    assert qorb_dut.pcie()["link"]["width"] == width


def test_aer_clear(qorb_dut, tmp_path):
    with qorb.XmlLog(tmp_path / "aer.xml") as log, log.test("AER clear", dut=qorb_dut):
        qorb_dut.clear_aer()
        result = qorb_dut.assert_aer("bad_tlp", expected=False, log=log)
    assert result, result.message
    assert qorb_dut.aer_status()["correctable"] == []
