"""The carrier setup file at start-up: its carriers, or the report of why not."""

import os
import unittest

import zvcc_e2e
from zvcc_e2e import Installation

VALID = '''<?xml version="1.0" encoding="UTF-8"?>
<carriers>
  <carrier>
    <carrierId>3</carrierId>
    <carrierName>"Pager Net"</carrierName>
    <msgLength>80</msgLength>
    <carrierType>1</carrierType>
    <carrierTypeStr>"TAP Modem"</carrierTypeStr>
    <addressType>1</addressType>
    <addressTypeStr>"pager id"</addressTypeStr>
    <carrierInfo>"line a\\nline b\\n"</carrierInfo>
  </carrier>
  <carrier>
    <carrierId>9</carrierId>
    <carrierName>"SMS ""Überall"""</carrierName>
    <msgLength>160</msgLength>
    <carrierType>2</carrierType>
    <carrierTypeStr>"GSM"</carrierTypeStr>
    <addressType>2</addressType>
    <addressTypeStr>"mobile number"</addressTypeStr>
    <carrierInfo>""</carrierInfo>
  </carrier>
</carriers>
'''


class CarrierFileTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()
        self.ccr = self.inst.path("Settings", "ZVCarriers.ccr")

    def tearDown(self):
        self.inst.remove()

    def report(self):
        with open(self.inst.path("Settings", "ZVSettingsError.log"), "rb") as f:
            return f.read().decode("utf-8")

    def test_valid_file_gives_the_carriers_at_start(self):
        with open(self.ccr, "w", encoding="utf-8") as f:
            f.write(VALID)
        status, out = self.inst.run_plain("car /a\ncar /s\n9\ny\nq\n")
        self.assertEqual(status, 0)
        self.assertIn("Default Carrier: Pager Net (3)\n", out)
        self.assertIn("  3            Pager Net          TAP Modem      pager id       \n", out)
        self.assertIn("  9            SMS \"Überall\"      GSM            mobile number  \n", out)
        self.assertIn("Current carrier Id: 3 - TAP Modem (pager id)\n", out)
        self.assertIn("New new carrier is \"9\": Y/N - y\n", out)
        self.assertIn(b"CarrierId=9\r\n", self.inst.ini())
        self.assertTrue(self.report().startswith(
            "The \"%s\" file settings are correct.\r\n\r\n" % self.ccr))

    def test_missing_file_is_reported_with_its_full_path(self):
        status, out = self.inst.run_plain("q\n")
        self.assertEqual(status, 0)
        self.assertIn("Default Carrier: Unknown (3)\n", out)
        self.assertTrue(self.report().startswith(
            "Cannot find Carrier file \"%s\"\r\n\r\n" % self.ccr), self.report())

    def test_broken_file_names_line_and_position(self):
        with open(self.ccr, "w", encoding="utf-8") as f:
            f.write('<?xml version="1.0"?>\n<carriers>\n  <carrier><carrierId>3</carrierId\n'
                    '  </carrier>\n</carriers>\n')
        status, out = self.inst.run_plain("car /a\nq\n")
        self.assertEqual(status, 0)
        report = self.report()
        self.assertTrue(report.startswith(
            "Carrier setup file \"%s\" is corrupted\r\n" % self.ccr), report)
        self.assertRegex(report, r"- Line in file [34] on position \d+\r\n- Error Text: ")
        self.assertIn("Available Carriers:\n", out)


if __name__ == "__main__":
    zvcc_e2e.main()
