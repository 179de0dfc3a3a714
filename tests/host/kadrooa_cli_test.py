#!/usr/bin/python3
"""Black-box tests of the kadrooa program: JSON-RPC 2.0 over standard input and output."""
import json
import os
import socket
import subprocess
import sys
import tempfile
import unittest

KADROOA = sys.argv.pop(1) if len(sys.argv) > 1 else "build/bin/kadrooa"
DATA = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "data")


def table(name):
    with open(os.path.join(DATA, name), encoding="utf-8") as f:
        return json.load(f)


def run(lines, args=()):
    text = "".join(l + "\n" for l in lines)
    done = subprocess.run([KADROOA, *args], input=text.encode(), capture_output=True, timeout=30)
    assert done.returncode == 0, done.stderr
    return [json.loads(l) for l in done.stdout.decode("utf-8").splitlines()]


def call(method, *params, id=1):
    return json.dumps({"jsonrpc": "2.0", "id": id, "method": method, "params": list(params)}, ensure_ascii=False)


class Protocol(unittest.TestCase):
    def test_geterr_prints_exact_text(self):
        raw = subprocess.run([KADROOA], input=(call("GETERR", 12014, "") + "\n").encode(), capture_output=True)
        self.assertEqual(raw.stdout.decode("utf-8"),
                         '{"id":1,"jsonrpc":"2.0","result":"无法连接和登录文件服务器，用户名或密码不正确\\r\\n错误号：12014"}\n')

    def test_names_match_in_any_case_and_results_keep_types(self):
        out = run([call("isinstalled"), call("SETPARM", "uid=a;path=h:21", ";", 1, id=2),
                   call("setLocalFile", "C:\\x y.doc", id=3), call("GETLOCALFILE", id="s")])
        self.assertEqual(out[0]["result"], 1)
        self.assertIsNone(out[1]["result"])
        self.assertIn("result", out[1])
        self.assertEqual(out[2]["result"], 1)
        self.assertEqual(out[3], {"jsonrpc": "2.0", "id": "s", "result": "C:\\x y.doc"})

    def test_errors_and_recovery(self):
        out = run(["not json", call("noSuchMethod", id=2), call("GetErr", 1, id=3), call("isInstalled", id=4),
                   '{"jsonrpc":"2.0","id":5}', '{"jsonrpc":"2.0","id":6,"method":"GetErr","params":{"a":1}}'])
        self.assertEqual(out[0]["error"]["code"], -32700)
        self.assertIsNone(out[0]["id"])
        self.assertEqual(out[1]["error"]["code"], -32601)
        self.assertEqual(out[2]["error"]["code"], -32602)
        self.assertEqual(out[3]["result"], 1, "the host goes on after bad lines")
        self.assertEqual(out[4]["error"]["code"], -32600)
        self.assertEqual(out[5]["error"]["code"], -32602)

    def test_notifications_get_no_response(self):
        out = run(['{"jsonrpc":"2.0","method":"setLocalFile","params":["n.doc"]}', call("getLocalFile")])
        self.assertEqual(out, [{"jsonrpc": "2.0", "id": 1, "result": "n.doc"}])

    def test_params_may_be_omitted_for_no_arguments(self):
        out = run(['{"jsonrpc":"2.0","id":7,"method":"getTiShiMsg"}'])
        self.assertEqual(out[0]["result"], "")

    def test_arguments_convert_as_variants(self):
        out = run([call("GetErr", "12029", 5), call("GetErr", "abc", ""), call("GetErr", True, None),
                   call("GetErr", None, False), call("GetErr", 12002.5, ""), call("GetErr", 2**40, ""),
                   call("GetErr", [1], ""), call("GetErr", " 18 ", "")])
        self.assertEqual(out[0]["result"], "5\r\nAttempt to connect to the server failed.\r\n错误号：12029")
        self.assertEqual(out[1]["error"], {"code": -32000, "message": "Type mismatch", "data": {"number": 13}})
        self.assertEqual(out[2]["result"], "无其他详细错误信息。\r\n错误号：-1")
        self.assertEqual(out[3]["result"], "0\r\n无其他详细错误信息。\r\n错误号：0")
        self.assertEqual(out[4]["result"], "操作超时，可能网络故障或目标机器不存在\r\n错误号：12002")
        self.assertEqual(out[5]["error"]["data"]["number"], 6)
        self.assertEqual(out[6]["error"]["data"]["number"], 13)
        self.assertTrue(out[7]["result"].startswith("文件不存在或没有更多文件"))

    def test_batch(self):
        batch = "[" + call("isInstalled", id=1) + ',{"jsonrpc":"2.0","method":"isInstalled"},' + \
                call("nope", id=2) + "]"
        out = run([batch, "[]"])
        self.assertEqual([r.get("result") for r in out[0]], [1, None])
        self.assertEqual(out[0][1]["error"]["code"], -32601)
        self.assertEqual(out[1]["error"]["code"], -32600)

    def test_requests_from_a_file(self):
        with tempfile.NamedTemporaryFile("w", suffix=".jsonl", delete=False, encoding="utf-8") as f:
            f.write(call("setparm", "UID=张三;path=h", "", 0) + "\n" + call("GetErr", 32, "上下文", id=2) + "\n")
        try:
            out = run([], args=[f.name])
        finally:
            os.unlink(f.name)
        self.assertEqual(out[1]["result"], "上下文\r\n共享冲突\r\n错误号：32")

    def test_transfer_without_server_is_a_result_not_an_error(self):
        out = run([call("GetFileToFile", "a", "b"), call("getErrorMsg", id=2)])
        self.assertEqual(out[0]["result"], -1)
        self.assertEqual(out[1]["result"], "参数错误，没有提供服务器地址")

    def test_deep_nesting_and_trailing_junk_are_parse_errors(self):
        deep = '{"jsonrpc":"2.0","id":1,"method":"setLocalFile","params":[' + "[" * 100000 + "]" * 100000 + "]}"
        batch = "[" + call("setLocalFile", "x", id=2)[:-1] + ',"extra":' + "{\"a\":" * 100 + "1" + "}" * 100 + "}]"
        junk = call("setLocalFile", "planted.doc", id=3) + "\0" + call("setLocalFile", "other.doc", id=4)
        out = run([deep, batch, junk, call("setLocalFile", "[[[" * 100, id=5), call("getLocalFile", id=6)])
        self.assertEqual([o.get("error", {}).get("code") for o in out[:3]], [-32700] * 3)
        self.assertEqual(out[3]["result"], 1, "brackets inside a string are text, not nesting")
        self.assertEqual(out[4]["result"], "[[[" * 100, "nothing on the refused lines was run")

    def test_unusable_timeouts_are_refused_with_a_note(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            port = s.getsockname()[1]
        for value in ("99999999999999999999", "86400001", "0", "-5", "10s", ""):
            env = dict(os.environ, KADROOA_FTP_TIMEOUT_MS=value)
            lines = [call("setparm", f"uid=u;path=127.0.0.1:{port};pass=p", ";", 1),
                     call("GetFileToFile", "a", "b", id=2), call("getErrorMsg", id=3)]
            done = subprocess.run([KADROOA], input="".join(l + "\n" for l in lines).encode(), capture_output=True,
                                  env=env, timeout=30)
            out = [json.loads(l) for l in done.stdout.decode("utf-8").splitlines()]
            self.assertIn("KADROOA_FTP_TIMEOUT_MS", done.stderr.decode(), value)
            # A closed port is refused at once; an overflowed timeout would have reported 12002 instead.
            self.assertTrue(out[2]["result"].endswith("错误号：12029"), (value, out[2]["result"]))
        done = subprocess.run([KADROOA], input=b"", capture_output=True,
                              env=dict(os.environ, KADROOA_FTP_TIMEOUT_MS="86400000"), timeout=30)
        self.assertEqual(done.stderr, b"", "a day is still allowed")


class Tables(unittest.TestCase):
    """The tables of the unit tests, through kadrooa."""

    def test_parameter_strings(self):
        cases = table("parm_strings.json")
        lines = []
        for c in cases:
            lines += [call("setparm", c["text"], c["split"], 0), call("kadrooa.fields")]
        out = run(lines)
        for i, c in enumerate(cases):
            fields = out[2 * i + 1]["result"]
            self.assertEqual((fields["sUid"], fields["sServer"], fields["sPass"], fields["sParm"]),
                             (c["uid"], c["path"], c["pass"], c["text"]), c)

    def test_a_separator_of_a_million_characters_gives_the_fields_of_a_short_one(self):
        # Every position of the long run of "~" begins a near-match of the separator, the worst case of a naive search
        # (about 10^12 comparisons here); under AddressSanitizer ten million took most of the 30 s a call may take.
        separator = "~" * 1_000_000
        long_text = "uid=clerk" + separator + "PATH=h:21" + separator + "pass=Pw"
        out = run([call("setparm", long_text, separator, 0), call("kadrooa.fields", id=2),
                   call("setparm", "uid=clerk~PATH=h:21~pass=Pw", "~", 0, id=3), call("kadrooa.fields", id=4)])
        fields = [{k: out[i]["result"][k] for k in ("sUid", "sServer", "sPass")} for i in (1, 3)]
        self.assertEqual(fields[0], {"sUid": "clerk", "sServer": "h:21", "sPass": "Pw"})
        self.assertEqual(fields[0], fields[1])
        self.assertTrue(out[1]["result"]["sParm"] == long_text, "the whole text is kept")

    def test_error_texts(self):
        rows = table("get_err.json")
        out = run([call("GetErr", r["code"], "ctx", id=i) for i, r in enumerate(rows)])
        # Code 0 describes the last platform error code, which is 0 before any platform call.
        for r, response in zip(rows, out):
            self.assertEqual(response["result"], "ctx\r\n%s\r\n错误号：%d" % (r["text"], r["code"]), r)

    def test_object_safety(self):
        safety = table("object_safety.json")
        out = run([call("IObjectSafety.GetInterfaceSafetyOptions", r["iid"], id=i)
                   for i, r in enumerate(safety["get"])])
        for r, response in zip(safety["get"], out):
            self.assertEqual(response["result"], {"hresult": r["hresult"], "supported": 3, "enabled": r["enabled"]},
                             r["name"])
        out = run([call("IObjectSafety.SetInterfaceSafetyOptions", r["iid"], r["mask"], r["enabled"], id=i)
                   for i, r in enumerate(safety["set"])])
        for r, response in zip(safety["set"], out):
            self.assertEqual(response["result"]["hresult"], r["hresult"], r)
        bad = run([call("IObjectSafety.GetInterfaceSafetyOptions", "not an iid")])
        self.assertEqual(bad[0]["error"]["data"]["number"], 13)


if __name__ == "__main__":
    unittest.main(verbosity=1)
