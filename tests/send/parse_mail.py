#!/usr/bin/python3
"""Parses a mail file with Python's standard email package (policy default)
and prints a JSON description of what a standard reader sees: every header
decoded (by the parser, and by the plain RFC 2047 decoder), every part with its type, decoded text or the SHA-256 of its decoded
bytes, and every defect the parser reports (message, part and header defects).
Also reports the raw shape of the file: the longest line, the longest line
holding an encoded-word, and whether every line ends in CR LF."""
import email
import email.header
import email.policy
import hashlib
import json
import sys


def defect_names(defects):
    return [type(d).__name__ + ": " + str(d) for d in defects]


def describe_headers(msg):
    headers = []
    for (name, value), (_, raw) in zip(msg.items(), msg.raw_items()):
        entry = {
            "name": name,
            "value": str(value),
            # The raw value decoded by the package's RFC 2047 decoder alone.
            "rfc2047": str(email.header.make_header(email.header.decode_header(raw))),
            "defects": defect_names(getattr(value, "defects", ())),
        }
        addresses = getattr(value, "addresses", None)
        if addresses is not None:
            entry["addresses"] = [{"display_name": a.display_name, "addr_spec": a.addr_spec}
                                  for a in addresses]
        headers.append(entry)
    return headers


def describe_part(part):
    info = {
        "content_type": part.get_content_type(),
        "is_multipart": part.is_multipart(),
        "charset": part.get_content_charset(),
        "transfer_encoding": part.get("Content-Transfer-Encoding", ""),
        "content_id": part.get("Content-ID", ""),
        "disposition": part.get_content_disposition(),
        "filename": part.get_filename(),
        "name_param": part.get_param("name"),
        "defects": defect_names(part.defects),
        "headers": describe_headers(part),
    }
    if not part.is_multipart():
        if part.get_content_maintype() == "text":
            info["text"] = part.get_content()
        data = part.get_payload(decode=True) or b""
        info["sha256"] = hashlib.sha256(data).hexdigest()
        info["size"] = len(data)
    return info


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    lines = data.split(b"\r\n")
    msg = email.message_from_bytes(data, policy=email.policy.default)
    result = {
        "defects": defect_names(msg.defects),
        "headers": describe_headers(msg),
        "max_line_length": max(len(line) for line in lines),
        # RFC 2047: a header line that holds an encoded-word has at most 76
        # characters.
        "max_encoded_word_line": max([len(line) for line in lines
                                      if b"=?" in line and b"?=" in line] or [0]),
        "bare_line_breaks": sum(line.count(b"\n") + line.count(b"\r") for line in lines),
        "parts": [describe_part(p) for p in msg.walk()],
    }
    json.dump(result, sys.stdout, ensure_ascii=True)


if __name__ == "__main__":
    main()
