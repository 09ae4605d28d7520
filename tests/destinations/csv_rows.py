# Reads or writes a CSV file with Python's csv module, for cross-checks.
#   csv_rows.py write FILE ENCODING   rows as JSON on stdin -> FILE
#   csv_rows.py read FILE ENCODING    FILE -> rows as JSON on stdout
import csv
import json
import sys

mode, path, encoding = sys.argv[1:4]
if mode == "write":
    rows = json.load(sys.stdin)
    with open(path, "w", encoding=encoding, newline="") as f:
        csv.writer(f, lineterminator="\r\n").writerows(rows)
elif mode == "read":
    with open(path, encoding=encoding, newline="") as f:
        json.dump(list(csv.reader(f)), sys.stdout, ensure_ascii=True)
else:
    sys.exit("unknown mode " + mode)
