#!/usr/bin/env python3
"""Signs Velmora's update announcement with the maker's ECDSA P-256 key.

Make a key pair once (keep the private key off the web server):

    python3 tools/sign_announcement.py make-key maker-update-key.pem

It prints the public key for the build: -DVELMORA_UPDATE_PUBLIC_KEY=04...

For each release, sign the announced version, the download address and the
last day (UTC) the announcement may be offered:

    python3 tools/sign_announcement.py sign maker-update-key.pem \\
        VelmoraV2.6.0.0101 https://download.quorvane.com/Velmora-2.6.zip 2027-03-31

and paste the printed line into the version page, anywhere in it. The
version and the address must stand on the page exactly as signed.
"""
import argparse
import datetime
import os
import re
import sys

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

START_MARKER = "<!--velmora-signature:"
END_MARKER = "-->"


def message(version, address, expires):
    """The exact bytes the program verifies."""
    return ("Velmora announcement\nversion=%s\naddress=%s\nexpires=%s\n" % (version, address, expires)).encode("ascii")


def check(version, address, expires):
    if not re.fullmatch(r"[0-9A-Za-z.]{1,32}", version):
        sys.exit("the version must be 1 to 32 characters of 0-9, A-Z, a-z and '.'")
    if not re.fullmatch(r"[\x21-\x7e]{1,2048}", address) or any(c in address for c in '"<>\\^`{}|'):
        sys.exit("the address must be printable ASCII without spaces, quotes, <, >, \\, ^, `, {, } or |")
    try:
        datetime.date.fromisoformat(expires)
    except ValueError:
        sys.exit("the expiry date is written YYYY-MM-DD")


def public_key_hex(public_key):
    return public_key.public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint).hex()


def load_private_key(path):
    with open(path, "rb") as f:
        key = serialization.load_pem_private_key(f.read(), password=None)
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        sys.exit("%s is no P-256 private key" % path)
    return key


def signature_line(private_key, version, address, expires):
    """The line for the page: the expiry date and the raw r||s signature in hex."""
    check(version, address, expires)
    der = private_key.sign(message(version, address, expires), ec.ECDSA(hashes.SHA256()))
    r, s = decode_dss_signature(der)
    raw = r.to_bytes(32, "big") + s.to_bytes(32, "big")
    return "%s%s:%s%s" % (START_MARKER, expires, raw.hex(), END_MARKER)


def make_key(path):
    key = ec.generate_private_key(ec.SECP256R1())
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                            serialization.NoEncryption())
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    with os.fdopen(fd, "wb") as f:
        f.write(pem)
    return public_key_hex(key.public_key())


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    make = sub.add_parser("make-key", help="make a new key pair")
    make.add_argument("private_key")
    public = sub.add_parser("public-key", help="print the public key of a private key")
    public.add_argument("private_key")
    sign = sub.add_parser("sign", help="print the signature line for the version page")
    sign.add_argument("private_key")
    sign.add_argument("version")
    sign.add_argument("address")
    sign.add_argument("expires", help="last day the offer stands, YYYY-MM-DD (UTC)")
    args = parser.parse_args()
    if args.command == "make-key":
        print("-DVELMORA_UPDATE_PUBLIC_KEY=" + make_key(args.private_key))
    elif args.command == "public-key":
        print("-DVELMORA_UPDATE_PUBLIC_KEY=" + public_key_hex(load_private_key(args.private_key).public_key()))
    else:
        print(signature_line(load_private_key(args.private_key), args.version, args.address, args.expires))


if __name__ == "__main__":
    main()
