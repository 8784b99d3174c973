"""zvcc in a pseudo-terminal, as an operator sees it."""

import unittest

import zvcc_e2e
from zvcc_e2e import Installation, Screen

PROMPT = "Zorvane Send >"


class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.inst = Installation()

    def tearDown(self):
        self.inst.remove()

    def start(self, prompt=PROMPT):
        s = Screen(self.inst)
        s.wait_prompt(prompt)
        return s

    def test_first_start_shows_the_main_screen(self):
        s = self.start()
        lines = s.lines()
        self.assertEqual(lines[:12], [
            " " * 22 + "Zorvane Console Client",
            " " * 24 + "(Enter 'q' to exit)",
            "Status",
            "--------",
            "Connection: Local (COM)",
            "Connected to the server: No",
            "Default Carrier: Unknown (3)",
            "Message Settings",
            "Priority: Normal(4); Age Limit: 120; Email Subject: Zorvane Message",
            "",
            "",
            PROMPT,
        ])
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)
        ini = self.inst.ini()
        self.assertTrue(ini.startswith(b"\xef\xbb\xbf"))
        self.assertIn(b"[ConsoleSys]", ini)

    def test_information_screens_and_errors(self):
        s = self.start()
        s.type_line("con /a", PROMPT)
        s.wait_text("  2            Remote         TCP/IP")
        s.type_line("car /a", PROMPT)
        s.wait_text("Carrier Id     Carrier Name       Carrier Type   Address Type")
        s.type_line("msg /c", PROMPT)
        s.wait_text("Priority: Normal(4)\nAge Limit: 120\nEmail Subject: Zorvane Message")
        s.type_line("con", PROMPT)
        s.wait_text('Improper usage of the "con" command')
        s.type_line("car /x", PROMPT)
        s.wait_text('Improper usage of the "car" command')
        s.type_line("hello", PROMPT)
        s.wait_text('Unknow command "hello"\nEnter: help - to see available commands')
        s.type_line("help", PROMPT)
        s.wait_line(0, "Zorvane Console Client - Help", PROMPT)
        s.type_line("con /h", PROMPT)
        s.wait_line(0, "Zorvane Console Client - Connection help", PROMPT)
        s.type_line("main", PROMPT)
        s.wait_line(2, "Status", PROMPT)
        s.type_line("cls", PROMPT)
        s.wait_line(0, PROMPT, PROMPT)
        s.type_line("1,Hi", PROMPT)
        s.wait_text("1,Hi\nNot connected to the server on 127.0.0.1:6022\n" + PROMPT)
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)
        self.assertIn(b"LastMsgNo=1\r\n", self.inst.ini())

    def test_setters_and_restart(self):
        s = self.start()
        s.type_line("cmd", "Enter command prompt: ")
        s.type_line("Pager", "Pager >")
        s.type_line("con /s", "Enter connection Id: ")
        s.wait_text("  1            Local          COM")
        s.type_line("2", 'New connection id is "2": Y/N - ')
        s.type_line("y", "Enter server IP address: ")
        s.type_line("300.1.1.1", "Enter server IP address: ")
        s.wait_text('"300.1.1.1" is not a valid IP address')
        s.type_line("10.0.0.1", "Enter server port: ")
        s.type_line("65536", "Enter server port: ")
        s.wait_text('"65536" is not a valid port number (1 - 65535)')
        s.type_line("7000", "Pager >")
        s.wait_text("Current Connection:")
        s.wait_text("Server IP: 10.0.0.1\nServer Port: 7000")
        s.type_line("msg /s", "Enter priority Id: ")
        s.type_line("2", "Enter email subject: ")
        s.type_line("Night shift", "Enter message age limit: ")
        s.type_line("60", "Pager >")
        s.type_line("car /s", "Enter carrier Id: ")
        s.type_line("5", "Enter carrier Id: ")
        s.wait_text('Carrier with id "5" does not exist in the system')
        s.type_line("0", "Pager >")
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)

        s = self.start("Pager >")
        s.wait_text("Connection: Remote (TCP/IP)\nServer IP: 10.0.0.1; Server Port: 7000")
        s.wait_text("Priority: Urgent(2); Age Limit: 60; Email Subject: Night shift")
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)

    def test_history_on_the_arrow_keys(self):
        s = self.start()
        s.type_line("stat", PROMPT)
        s.child.send(b"\x1b[A")  # up arrow
        s.wait_for(lambda t: t.cursor_line() == PROMPT + "stat", "recalled line")
        s.child.send(b"\x15")  # clear the line again
        s.wait_prompt(PROMPT)
        s.type_line("q")
        self.assertEqual(s.wait_exit(), 0)

    def test_interrupt_leaves_through_the_exit_path(self):
        s = self.start()
        s.type_line("cmd", "Enter command prompt: ")
        s.type_line("Pager", "Pager >")
        s.child.sendintr()
        self.assertEqual(s.wait_exit(), 130)
        self.assertIn(b"MsgSubject=\"Zorvane Message\"\r\n", self.inst.ini())  # Save ran


if __name__ == "__main__":
    zvcc_e2e.main()
