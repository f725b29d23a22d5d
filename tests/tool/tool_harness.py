"""What the dbif tool's end-to-end tests share: running the program, collecting failures, and the
databases a test body runs on (a SQLite file, and a fresh MariaDB database when the
DBIF_TEST_MYSQL_* variables name a server)."""
import contextlib
import csv
import io
import os
import subprocess
import sys
import tempfile

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def dbif(program, db, *arguments):
    result = subprocess.run([program, "--db", db, *arguments], capture_output=True, text=True, timeout=300)
    return result.returncode, result.stdout, result.stderr


def rows_of(program, db, *arguments):
    status, out, err = dbif(program, db, *arguments, "--csv")
    check(status == 0, f"{arguments} ran ({err.strip()})")
    return list(csv.DictReader(io.StringIO(out)))


@contextlib.contextmanager
def mariadb_database():
    host = os.environ["DBIF_TEST_MYSQL_HOST"]
    port, user = os.environ["DBIF_TEST_MYSQL_PORT"], os.environ["DBIF_TEST_MYSQL_USER"]
    password = os.environ["DBIF_TEST_MYSQL_PASSWORD"]
    name = f"dbif_tool_{os.getpid()}"
    admin = ["mariadb", "--no-defaults", "-h", host, "-P", port, "-u", user, f"-p{password}", "-e"]
    subprocess.run(admin + [f"CREATE DATABASE {name} CHARACTER SET latin1"], check=True)
    os.environ["DBIF_PASSWORD"] = password
    try:
        yield f"mysql://{user}@{host}:{port}/{name}"
    finally:
        subprocess.run(admin + [f"DROP DATABASE IF EXISTS {name}"], check=True)


def run_on_both_drivers(body):
    """Runs body(db, work, label) on each database; returns the exit status of the test program."""
    with tempfile.TemporaryDirectory() as work:
        print("-- SQLite")
        body(os.path.join(work, "campaign.db"), work, "SQLite")
        if os.environ.get("DBIF_TEST_MYSQL_HOST"):
            print("-- MariaDB")
            with mariadb_database() as db:
                body(db, work, "MariaDB")
        else:
            print("-- MariaDB: skipped (no DBIF_TEST_MYSQL_HOST)")
    print(f"{len(failures)} failures")
    return 1 if failures else 0
