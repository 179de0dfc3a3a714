#!/usr/bin/env python3
"""The desktop methods through the kadrooa JSON-RPC host: registry from KADROOA_REGISTRY, a started program,
a run-time error as an error object, and a broken registry file reported on standard error."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

KADROOA = sys.argv.pop(1)
RECORD_ARGS = sys.argv.pop(1)


class DesktopHostTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.registry = os.path.join(self.dir.name, "registry")
        os.makedirs(self.registry)
        self.record = os.path.join(self.dir.name, "record.txt")

    def tearDown(self):
        self.dir.cleanup()

    def write_reg(self, name, text):
        with open(os.path.join(self.registry, name), "w", encoding="utf-8") as f:
            f.write("Windows Registry Editor Version 5.00\r\n\r\n" + text)

    def call(self, *requests):
        env = dict(os.environ, KADROOA_REGISTRY=self.registry, RECORD_ARGS_OUT=self.record, LC_ALL="C.UTF-8")
        lines = "".join(
            json.dumps({"jsonrpc": "2.0", "id": i, "method": m, "params": list(p)}) + "\n"
            for i, (m, *p) in enumerate(requests)
        )
        done = subprocess.run([KADROOA], input=lines.encode(), capture_output=True, env=env, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        replies = [json.loads(line) for line in done.stdout.decode().splitlines()]
        self.assertEqual([r["id"] for r in replies], list(range(len(requests))))
        return replies, done.stderr.decode()

    def test_listing_and_messages(self):
        self.write_reg("app.reg", '[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kadro]\r\n"A"="1"\r\n"B"="x y"\r\n')
        replies, _ = self.call(
            ("GetAllRegValue", "hkey_local_machine\\SOFTWARE\\Kadro"),
            ("GetAllRegValue", "HKLM\\SOFTWARE"),
            ("getErrorMsg",),
            ("GetAllRegValue", "HKEY_LOCAL_MACHINE\\Missing"),
            ("getErrorMsg",),
        )
        self.assertEqual(replies[0]["result"], "A,1;B,x y")
        self.assertEqual(replies[1]["result"], "-1")
        self.assertEqual(replies[2]["result"], "注册表key值头不合法：HKLM")
        self.assertEqual(replies[3]["result"], "-1")
        self.assertEqual(replies[4]["result"], "打开注册表出错：head=HKEY_LOCAL_MACHINE；sub=Missing")

    def test_runtime_errors_become_error_objects(self):
        self.write_reg("app.reg", '[HKEY_CURRENT_USER\\N]\r\n"n"=dword:01020304\r\n')
        replies, _ = self.call(("GetAllRegValue", ""), ("GetAllRegValue", "HKEY_CURRENT_USER\\N"),
                               ("OpenExefile", self.dir.name, ""))
        self.assertEqual(replies[0]["error"]["data"]["number"], 9)
        self.assertEqual(replies[0]["error"]["message"], "Subscript out of range")
        self.assertEqual(replies[1]["error"]["data"]["number"], 5)
        self.assertEqual(replies[2]["error"]["data"]["number"], 70)

    def test_open_exefile_by_reg_starts_the_program(self):
        directory, name = os.path.split(RECORD_ARGS)
        self.write_reg("app.reg", '[HKEY_CURRENT_USER\\Apps]\r\n"Dir"="%s"\r\n' % directory.replace("\\", "\\\\"))
        replies, _ = self.call(("OpenExefileByReg", "HKEY_CURRENT_USER\\Apps", "Dir", '"two words" $(x)', name),
                               ("OpenExefile", "/no/such/program", "a"), ("getErrorMsg",))
        self.assertEqual(replies[0]["result"], 1)
        self.assertEqual(replies[1]["result"], -1)
        self.assertEqual(replies[2]["result"], "文件不存在：/no/such/program")
        self.assertEqual(self.wait_for_record(), [directory + "/" + name, "two words", "$(x)"])

    def wait_for_record(self):
        deadline = time.monotonic() + 30
        while not os.path.exists(self.record):
            self.assertLess(time.monotonic(), deadline, "the program never ran")
            time.sleep(0.01)
        with open(self.record) as f:
            args = [bytes.fromhex(line[4:].strip()).decode() for line in f if line.startswith("arg=")]
        os.remove(self.record)
        return args

    def test_programs_in_a_folder_with_a_space_get_exactly_the_page_arguments(self):
        # A planted program at "apps/my" is what the first word of an unquoted "apps/my prog/..." would name.
        apps = os.path.join(self.dir.name, "apps")
        spaced = os.path.join(apps, "my prog")
        os.makedirs(spaced)
        editor = shutil.copy(RECORD_ARGS, os.path.join(spaced, "editor"))
        shutil.copy(RECORD_ARGS, os.path.join(apps, "my"))
        script = os.path.join(spaced, "open.sh")
        with open(script, "w") as f:
            f.write('#!/bin/sh\nexec "$(dirname "$0")/editor" "$@"\n')
        os.chmod(script, 0o755)
        self.write_reg("app.reg", '[HKEY_CURRENT_USER\\Apps]\r\n"Dir"="%s"\r\n' % spaced)
        parm = '"two words" -x a\\b'
        for request in (("OpenExefile", editor, parm), ("OpenExefile", script, parm),
                        ("OpenExefileByReg", "HKEY_CURRENT_USER\\Apps", "Dir", parm, "editor"),
                        ("OpenExefileByReg", "HKEY_CURRENT_USER\\Apps", "Dir", parm, "open.sh")):
            replies, _ = self.call(request)
            self.assertEqual(replies[0].get("result"), 1, request)
            self.assertEqual(self.wait_for_record(), [editor, "two words", "-x", "a\\b"], request)

    def test_an_overlong_command_line_is_refused_and_nothing_starts(self):
        replies, _ = self.call(("OpenExefile", RECORD_ARGS, "x" * 40000))
        self.assertEqual(replies[0]["error"]["data"]["number"], 5)
        time.sleep(1)
        self.assertFalse(os.path.exists(self.record), "a program was started")
        # The longest that starts: 32,766 characters and the terminating NUL; the argument arrives whole.
        longest = "y" * (32766 - len(RECORD_ARGS) - 1)
        replies, _ = self.call(("OpenExefile", RECORD_ARGS, longest))
        self.assertEqual(replies[0]["result"], 1)
        self.assertEqual(self.wait_for_record(), [RECORD_ARGS, longest])

    def test_broken_file_is_reported_on_stderr(self):
        self.write_reg("bad.reg", '[HKEY_CURRENT_USER\\Bad]\r\n"v"=hex:zz\r\n')
        replies, stderr = self.call(("GetAllRegValue", "HKEY_CURRENT_USER\\Bad"))
        self.assertEqual(replies[0]["result"], "-1")
        self.assertIn("bad.reg:4:", stderr)

    def test_keys_nested_beyond_the_registry_limit_are_a_bad_file_not_a_crash(self):
        self.write_reg("deep.reg", "[HKEY_CURRENT_USER\\Deep" + "\\k" * 200000 + "]\r\n")
        self.write_reg("ok.reg", "[HKEY_CURRENT_USER\\Ok" + "\\k" * 510 + ']\r\n"v"="1"\r\n')
        replies, stderr = self.call(("GetAllRegValue", "HKEY_CURRENT_USER\\Deep"),
                                    ("GetAllRegValue", "HKEY_CURRENT_USER\\Ok" + "\\k" * 510))
        self.assertEqual(replies[0]["result"], "-1")
        self.assertEqual(replies[1]["result"], "v,1")
        self.assertIn("deep.reg:3:", stderr)
        self.assertIn("512", stderr)


if __name__ == "__main__":
    unittest.main()
