"""Reads the --json reports the checker test saved and checks that each is
one object of the documented shape, agreeing with the run it came from:
<case>.<exit code>.json, healthy exactly when the exit code is 0."""
import json
import pathlib
import sys

CHECKS = ["class", "appid", "service", "proxy", "typelib", "versions", "folders", "call"]


def check(path):
    case, code = path.name[: -len(".json")].rsplit(".", 1)
    report = json.loads(path.read_bytes().decode("ascii"))
    assert set(report) == {"healthy", "remedy", "checks"}, report
    assert report["healthy"] is (code == "0"), (case, code, report)
    names = [entry["name"] for entry in report["checks"]]
    if not case.endswith("quiet"):
        assert names == CHECKS, names
    for entry in report["checks"]:
        assert set(entry) == {"name", "status", "message", "remedy"}, entry
        assert entry["status"] in ("ok", "fail", "cannot check"), entry
        assert (entry["status"] == "ok") is (entry["remedy"] is None), entry
    if not report["healthy"]:
        assert isinstance(report["remedy"], str) and report["remedy"], report
        assert any(entry["status"] != "ok" for entry in report["checks"]), report


def main():
    reports = sorted(pathlib.Path(sys.argv[1]).glob("*.json"))
    assert reports, "the test saved no report"
    for path in reports:
        check(path)
    print(f"{len(reports)} JSON reports parse and agree with their exit codes")


if __name__ == "__main__":
    main()
