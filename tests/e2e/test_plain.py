"""zvcc through a pipe: plain text, captured as the screen would read."""

import os
import unittest

import zvcc_e2e
from zvcc_e2e import Installation

STATUS_BLOCK = ("Status\n"
                "--------\n"
                "Connection: Local (COM)\n"
                "Connected to the server: No\n"
                "Default Carrier: Unknown (3)\n"
                "Message Settings\n"
                "Priority: Normal(4); Age Limit: 120; Email Subject: Zorvane Message\n"
                "\n")


class PlainModeTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()

    def tearDown(self):
        self.inst.remove()

    def test_main_screen_and_stat_in_plain_text(self):
        status, out = self.inst.run_plain("stat\nq\n")
        self.assertEqual(status, 0)
        self.assertNotIn("\x1b", out)
        expected = (" " * 22 + "Zorvane Console Client\n" +
                    " " * 24 + "(Enter 'q' to exit)\n" +
                    STATUS_BLOCK + "\n" +
                    "Zorvane Send >stat\n" + STATUS_BLOCK +
                    "Zorvane Send >q\n")
        self.assertEqual(out, expected)

    def test_settings_land_beside_the_program_not_in_the_current_folder(self):
        status, _ = self.inst.run_plain("q\n", cwd=self.inst.path("Help"))
        self.assertEqual(status, 0)
        ini = self.inst.ini()
        self.assertTrue(ini.startswith(b"\xef\xbb\xbf[ConsoleSys]\r\n"), ini[:40])
        self.assertFalse(os.path.exists(self.inst.path("Help", "Settings")))

    def test_end_of_input_ends_through_the_exit_path(self):
        status, out = self.inst.run_plain("cmd\nPager\n")
        self.assertEqual(status, 0)
        self.assertIn(b"CmdPrompt=Pager >\r\n", self.inst.ini())
        self.assertIn(b"MsgSubject=\"Zorvane Message\"\r\n", self.inst.ini())  # Save ran
        status, out = self.inst.run_plain("")
        self.assertEqual(status, 0)
        self.assertTrue(out.endswith("Pager >\n"), out[-40:])

    def test_message_line_without_a_link(self):
        status, out = self.inst.run_plain("1,Hi\n555,Hello\nq\n")
        self.assertEqual(status, 3)  # neither page went out
        self.assertIn("Zorvane Send >1,Hi\nNot connected to the server on 127.0.0.1:6022\n", out)
        self.assertIn(b"LastMsgNo=2\r\n", self.inst.ini())
        with open(self.inst.path("Logs", "zvccLog1.txt"), "rb") as f:
            log = f.read().decode("utf-16-le")
        self.assertIn("Log Item: 2 (", log)
        self.assertIn("Sending Message\r\nDescription: Sending message to \"555\"\r\n", log)

    def test_script_status_counts_its_pages(self):
        limit = 1024 * 1024
        runs = [
            # (input, status, summary on standard error)
            ("stat\nq\n", 0, None),
            ("1,Hi\nq\n", 3, "1 message: 0 with a result, 1 without (1)"),
            ("x" * (limit + 1) + "\nq\n", 3, "1 message: 0 with a result, 1 without"),
            ("stat\n9," + "x" * limit, 3, "1 message: 0 with a result, 1 without"),
        ]
        for text, status, summary in runs:
            with self.subTest(text=text[:20], length=len(text)):
                got, out = self.inst.run_plain(text)
                self.assertEqual(got, status, out[-300:])
                if summary:
                    self.assertIn("\n" + summary + "\n", out)
                else:
                    self.assertNotIn(" messages: ", out)

    def test_missing_help_file_ends_with_one_line_and_status_1(self):
        os.remove(self.inst.path("Help", "chelp_main.txt"))
        status, out = self.inst.run_plain("help\nstat\nq\n")
        self.assertEqual(status, 1)
        self.assertTrue(out.endswith(
            "Zorvane Send >help\nEFileOpenError: Cannot open file \"%s\". No such file or directory\n"
            % self.inst.path("Help", "chelp_main.txt")), out[-200:])
        self.assertFalse(os.path.exists(self.inst.path("Settings", "zvcc.ini")))


if __name__ == "__main__":
    zvcc_e2e.main()
