"""A throw-away certificate authority and code-signing certificate, made with
Debian's openssl for one test run: what the release tool signs with in the
tests, never anything a player's Windows trusts."""
import os
import subprocess

PASSWORD = "test-only-password"


def openssl(*args, cwd):
    subprocess.run(["openssl"] + list(args), cwd=cwd, check=True, capture_output=True)


def make_signing_identity(folder):
    """Makes ca.pem, signer.p12 (its password in password.txt) and the PEM
    pair signer.pem/signer.key in `folder`; returns their paths by name."""
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "codesign.ext"), "w") as ext:
        ext.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n"
                  "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem", "-days", "30",
            "-subj", "/CN=Lumora Test CA", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "signer.key", "-out", "signer.csr",
            "-subj", "/CN=Lumora Games Test Signer/O=Lumora Games", cwd=folder)
    openssl("x509", "-req", "-in", "signer.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-out", "signer.pem", "-days", "30", "-extfile", "codesign.ext", cwd=folder)
    with open(os.path.join(folder, "password.txt"), "w") as f:
        f.write(PASSWORD + "\n")
    openssl("pkcs12", "-export", "-in", "signer.pem", "-inkey", "signer.key", "-certfile", "ca.pem",
            "-out", "signer.p12", "-passout", "pass:" + PASSWORD, cwd=folder)
    return {name: os.path.join(folder, file) for name, file in
            [("ca", "ca.pem"), ("p12", "signer.p12"), ("password", "password.txt"), ("cert", "signer.pem"),
             ("key", "signer.key")]}


def sign(identity, source, target):
    """Signs `source` into `target` as tools/release does (SHA-1, then a nested SHA-256)."""
    middle = target + ".sha1"
    for digest, extra, src, dst in [("sha1", [], source, middle), ("sha256", ["-nest"], middle, target)]:
        subprocess.run(["osslsigncode", "sign", "-pkcs12", identity["p12"], "-readpass", identity["password"],
                        "-h", digest] + extra + ["-in", src, "-out", dst], check=True, capture_output=True)
    os.remove(middle)


def verify(identity, program):
    """osslsigncode's verdict on `program` against the test CA: (exit code, its output)."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", identity["ca"], "-in", program],
                            capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr
