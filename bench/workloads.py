"""The workloads: schemas (as the example library's validator trees), valid data, the
violations that make the invalid data, and a hand-written pure-Python check of each."""

from __future__ import annotations

import copy
from dataclasses import dataclass, field
from typing import Any, Callable, List, Tuple

from schemalib import BoolValidator, DictValidator, ListValidator, NumberValidator, StringValidator

DELETE = object()  # a violation that removes the key instead of setting a value
Path = Tuple[Any, ...]


@dataclass(eq=False)
class Workload:
    name: str
    schema: Any
    valid: Any
    python: Callable[[Any], bool]  # the pure-Python check, written out by hand
    violations: List[Tuple[Path, Any]] = field(default_factory=list)  # empty: no invalid case
    items: int = 0  # numbers walked per call, for the per-item floor comparison

    def invalid(self):
        data = copy.deepcopy(self.valid)
        for path, value in self.violations:
            parent = data
            for step in path[:-1]:
                parent = parent[step]
            if value is DELETE:
                del parent[path[-1]]
            else:
                parent[path[-1]] = value
        return data


# (a) a flat record of eight fields, and (b) a thousand of them in a list under a key.
RECORD = {
    "id": NumberValidator(int, min=1),
    "name": StringValidator(min_len=1, max_len=40),
    "email": StringValidator(min_len=3, max_len=254),
    "age": NumberValidator(int, min=0, max=150),
    "score": NumberValidator(float, min=0.0, max=100.0),
    "ratio": NumberValidator(float, min=0.0, max=1.0, exclusive_max=True),
    "active": BoolValidator(),
    "tags": ListValidator(StringValidator(min_len=1, max_len=16), max_len=8),
}


def record(i: int) -> dict:
    return {
        "id": i + 1, "name": f"user {i}", "email": f"user{i}@example.org", "age": 20 + i % 60,
        "score": (i % 1000) / 10.0, "ratio": (i % 97) / 97.0, "active": i % 2 == 0,
        "tags": ["alpha", "beta", "gamma"][: 1 + i % 3],
    }


def _i64(x) -> bool:
    return -(2 ** 63) <= x < 2 ** 63


def py_record(r) -> bool:
    if not isinstance(r, dict) or len(r) != 8:
        return False
    try:
        id_, name, email, age = r["id"], r["name"], r["email"], r["age"]
        score, ratio, active, tags = r["score"], r["ratio"], r["active"], r["tags"]
    except KeyError:
        return False
    if not (isinstance(id_, int) and _i64(id_) and id_ >= 1):
        return False
    if not (isinstance(name, str) and 1 <= len(name) <= 40):
        return False
    if not (isinstance(email, str) and 3 <= len(email) <= 254):
        return False
    if not (isinstance(age, int) and 0 <= age <= 150):
        return False
    if not isinstance(score, float) or score < 0.0 or score > 100.0:
        return False
    if not isinstance(ratio, float) or ratio < 0.0 or ratio >= 1.0:
        return False
    if type(active) is not bool or not isinstance(tags, list) or len(tags) > 8:
        return False
    for tag in tags:
        if not (isinstance(tag, str) and 1 <= len(tag) <= 16):
            return False
    return True


def py_batch(d) -> bool:
    if not isinstance(d, dict) or len(d) != 1 or "records" not in d:
        return False
    records = d["records"]
    if not isinstance(records, list):
        return False
    for r in records:
        if not py_record(r):
            return False
    return True


# (c) a nested document: a dict of a dict of a list of dicts.
MEMBER = {
    "name": StringValidator(min_len=1, max_len=40),
    "age": NumberValidator(int, min=16, max=99),
    "email": StringValidator(min_len=3),
    "skills": ListValidator(StringValidator(min_len=1, max_len=20), max_len=10),
}
DOCUMENT = {
    "company": StringValidator(min_len=1),
    "founded": NumberValidator(int, min=1800, max=2100),
    "departments": DictValidator({
        "head": StringValidator(min_len=1),
        "budget": NumberValidator(float, min=0.0),
        "staff": ListValidator(MEMBER),
    }),
}


def document() -> dict:
    def member(d, s):
        return {"name": f"member {d}.{s}", "age": 20 + (d + s) % 40,
                "email": f"m{d}.{s}@example.org", "skills": ["python", "c++", "sql"][: 1 + s % 3]}
    return {
        "company": "Example Ltd", "founded": 1999,
        "departments": {
            f"d{d}": {"head": f"head {d}", "budget": 1000.0 * (d + 1),
                      "staff": [member(d, s) for s in range(20)]}
            for d in range(10)
        },
    }


def py_member(m) -> bool:
    if not isinstance(m, dict) or len(m) != 4:
        return False
    try:
        name, age, email, skills = m["name"], m["age"], m["email"], m["skills"]
    except KeyError:
        return False
    if not (isinstance(name, str) and 1 <= len(name) <= 40):
        return False
    if not (isinstance(age, int) and 16 <= age <= 99):
        return False
    if not (isinstance(email, str) and len(email) >= 3):
        return False
    if not isinstance(skills, list) or len(skills) > 10:
        return False
    for skill in skills:
        if not (isinstance(skill, str) and 1 <= len(skill) <= 20):
            return False
    return True


def py_document(d) -> bool:
    if not isinstance(d, dict) or len(d) != 3:
        return False
    try:
        company, founded, departments = d["company"], d["founded"], d["departments"]
    except KeyError:
        return False
    if not (isinstance(company, str) and len(company) >= 1):
        return False
    if not (isinstance(founded, int) and 1800 <= founded <= 2100):
        return False
    if not isinstance(departments, dict):
        return False
    for key, dept in departments.items():
        if not isinstance(key, str) or not isinstance(dept, dict) or len(dept) != 3:
            return False
        try:
            head, budget, staff = dept["head"], dept["budget"], dept["staff"]
        except KeyError:
            return False
        if not (isinstance(head, str) and len(head) >= 1):
            return False
        if not isinstance(budget, float) or budget < 0.0 or not isinstance(staff, list):
            return False
        for m in staff:
            if not py_member(m):
                return False
    return True


# (c') a request body of many small containers: 63 dicts and 61 lists, most of a few
# entries, where the cost paid once per container shows.
TEAM = {
    "name": StringValidator(min_len=1, max_len=64),
    "lead": StringValidator(min_len=1, max_len=64),
    "active": BoolValidator(),
    "members": ListValidator(StringValidator(min_len=1, max_len=64), max_len=50),
}
SMALL_DEPARTMENT = {
    "name": StringValidator(min_len=1, max_len=64),
    "budget": NumberValidator(float, min=0.0),
    "headcount": NumberValidator(int, min=0, max=100_000),
    "teams": ListValidator(TEAM),
}
SMALL_DOCUMENT = {
    "meta": {"version": NumberValidator(int, min=1, max=10),
             "source": StringValidator(min_len=1, max_len=64)},
    "org": {"name": StringValidator(min_len=1, max_len=100),
            "departments": ListValidator(SMALL_DEPARTMENT)},
}


def small_document() -> dict:
    def team(d, t):
        return {"name": f"team {d}.{t}", "lead": f"lead {d}.{t}", "active": (d + t) % 3 != 0,
                "members": [f"member {d}.{t}.{m}" for m in range(6)]}
    return {
        "meta": {"version": 3, "source": "importer"},
        "org": {"name": "Example Ltd", "departments": [
            {"name": f"department {d}", "budget": 1000.0 * (d + 1), "headcount": 30 + d,
             "teams": [team(d, t) for t in range(5)]}
            for d in range(10)]},
    }


def _str_in(x, low, high) -> bool:
    return isinstance(x, str) and low <= len(x) <= high


def py_team(t) -> bool:
    if not isinstance(t, dict) or len(t) != 4:
        return False
    try:
        name, lead, active, members = t["name"], t["lead"], t["active"], t["members"]
    except KeyError:
        return False
    if not (_str_in(name, 1, 64) and _str_in(lead, 1, 64) and type(active) is bool):
        return False
    if not isinstance(members, list) or len(members) > 50:
        return False
    return all(_str_in(m, 1, 64) for m in members)


def py_small_department(d) -> bool:
    if not isinstance(d, dict) or len(d) != 4:
        return False
    try:
        name, budget, headcount, teams = d["name"], d["budget"], d["headcount"], d["teams"]
    except KeyError:
        return False
    if not _str_in(name, 1, 64) or not isinstance(budget, float) or budget < 0.0:
        return False
    if not (isinstance(headcount, int) and 0 <= headcount <= 100_000):
        return False
    return isinstance(teams, list) and all(py_team(t) for t in teams)


def py_small_document(d) -> bool:
    if not isinstance(d, dict) or len(d) != 2:
        return False
    try:
        meta, org = d["meta"], d["org"]
    except KeyError:
        return False
    if not isinstance(meta, dict) or len(meta) != 2 or not isinstance(org, dict) or len(org) != 2:
        return False
    try:
        version_, source, name, departments = meta["version"], meta["source"], org["name"], org["departments"]
    except KeyError:
        return False
    if not (isinstance(version_, int) and 1 <= version_ <= 10 and _str_in(source, 1, 64)):
        return False
    if not _str_in(name, 1, 100) or not isinstance(departments, list):
        return False
    return all(py_small_department(x) for x in departments)


def py_users(d) -> bool:
    if not isinstance(d, dict) or len(d) != 1 or "users" not in d:
        return False
    users = d["users"]
    return isinstance(users, list) and all(py_record(r) for r in users)


# One violation in every 100th record, of the kinds whose entries the collect floor
# builds (ints, strs, bools and lengths; no float needs rendering).
USER_VIOLATIONS = [("age", -1), ("name", ""), ("active", 1), ("age", 151), ("email", "ab"),
                   ("id", 0), ("name", "n" * 41), ("tags", ["t"] * 9), ("active", 0), ("age", "forty")]


# (d) 100,000 ints against a range, and (e) 10,000 str keys to bounded floats.
INT_LOW, INT_HIGH = 0, 1_000_000
FLOAT_LOW, FLOAT_HIGH = 0.0, 1e6


def py_ints(xs) -> bool:
    if not isinstance(xs, list):
        return False
    for x in xs:
        if not (isinstance(x, int) and INT_LOW <= x <= INT_HIGH):
            return False
    return True


def py_floats(d) -> bool:
    if not isinstance(d, dict):
        return False
    for key, x in d.items():
        if not isinstance(key, str) or not isinstance(x, float) or x < FLOAT_LOW or x > FLOAT_HIGH:
            return False
    return True


# (f) a record of many fields, cycling through four kinds; also used for compile costs.
WIDE_KINDS = ("int", "float", "str", "bool")


def wide_schema(n: int) -> dict:
    made = {
        "int": lambda: NumberValidator(int, min=0, max=1000),
        "float": lambda: NumberValidator(float, min=0.0, max=1.0),
        "str": lambda: StringValidator(min_len=1, max_len=20),
        "bool": BoolValidator,
    }
    return {f"f{i:05d}": made[WIDE_KINDS[i % 4]]() for i in range(n)}


def wide_record(n: int) -> dict:
    values = (lambda i: i % 1000, lambda i: (i % 100) / 100.0, lambda i: f"v{i}", lambda i: i % 3 == 0)
    return {f"f{i:05d}": values[i % 4](i) for i in range(n)}


def py_wide(kinds: dict) -> Callable[[Any], bool]:
    def check(r) -> bool:
        if not isinstance(r, dict) or len(r) != len(kinds):
            return False
        for key, x in r.items():
            kind = kinds.get(key)
            if kind == "int":
                ok = isinstance(x, int) and 0 <= x <= 1000
            elif kind == "float":
                ok = isinstance(x, float) and not (x < 0.0 or x > 1.0)
            elif kind == "str":
                ok = isinstance(x, str) and 1 <= len(x) <= 20
            elif kind == "bool":
                ok = type(x) is bool
            else:
                ok = False
            if not ok:
                return False
        return True
    return check


def workloads() -> List[Workload]:
    ints = [(i * 7919) % (INT_HIGH + 1) for i in range(100_000)]
    floats = {f"k{i:05d}": (i * 7.25) % FLOAT_HIGH for i in range(10_000)}
    wide = 1000
    return [
        Workload("record", RECORD, record(7), py_record,
                 [(("name",), ""), (("age",), 200), (("tags", 1), "")]),
        Workload("1,000 records", {"records": ListValidator(RECORD)},
                 {"records": [record(i) for i in range(1000)]}, py_batch,
                 [(("records", 500, "age"), -1), (("records", 640, "name"), "x" * 41),
                  (("records", 780, "score"), 100.5), (("records", 900, "active"), 1),
                  (("records", 999, "tags"), ["t"] * 9)]),
        Workload("nested document", DOCUMENT, document(), py_document,
                 [(("departments", "d3", "budget"), -5.0),
                  (("departments", "d5", "staff", 7, "age"), 12),
                  (("departments", "d7", "staff", 2, "email"), DELETE),
                  (("departments", "d9", "staff", 19, "skills", 0), "")]),
        Workload("small containers", SMALL_DOCUMENT, small_document(), py_small_document,
                 [(("meta", "version"), 11),
                  (("org", "departments", 4, "teams", 2, "members", 5), ""),
                  (("org", "departments", 9, "headcount"), -1)]),
        Workload("1,000 users, 10 bad", {"users": ListValidator(RECORD)},
                 {"users": [record(i) for i in range(1000)]}, py_users,
                 [(("users", 50 + 100 * k, field), value)
                  for k, (field, value) in enumerate(USER_VIOLATIONS)]),
        Workload("100,000 ints", ListValidator(NumberValidator(int, min=INT_LOW, max=INT_HIGH)),
                 ints, py_ints, [((99_999,), -1)], items=100_000),
        Workload("10,000 floats", DictValidator(NumberValidator(float, min=FLOAT_LOW, max=FLOAT_HIGH)),
                 floats, py_floats, [(("k09999",), -1.0)], items=10_000),
        Workload("1,000 fields", wide_schema(wide), wide_record(wide),
                 py_wide({f"f{i:05d}": WIDE_KINDS[i % 4] for i in range(wide)})),
    ]
