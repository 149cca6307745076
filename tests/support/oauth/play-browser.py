#!/usr/bin/env python3
"""Plays the user's browser in sign-in tests: opens the URL it is given and follows redirects as
a browser would, to loopback addresses only (a test must never reach the network). What the
provider's page does (redirect, refuse, never come back) is the mock server's part.

  play-browser.py URL

Under Wine, HKCU\\Software\\Wine\\WineBrowser "Browsers" names this script, and winebrowser runs it
for every http and https URL a program opens.
"""
import ssl
import sys
import urllib.error
import urllib.parse
import urllib.request

LOOPBACK = {"127.0.0.1", "localhost", "::1"}
SECONDS = 10


class LoopbackOnly(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, request, fp, code, message, headers, new_url):
        if urllib.parse.urlsplit(new_url).hostname not in LOOPBACK:
            raise urllib.error.URLError("refusing to leave loopback: " + new_url)
        return super().redirect_request(request, fp, code, message, headers, new_url)


def main():
    url = sys.argv[1] if len(sys.argv) > 1 else ""
    if urllib.parse.urlsplit(url).hostname not in LOOPBACK:
        sys.stderr.write("play-browser: not a loopback address: %s\n" % url)
        return 1
    # The test's own servers; whether the provider's certificate is good is not under test here.
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    opener = urllib.request.build_opener(LoopbackOnly(), urllib.request.HTTPSHandler(context=context))
    try:
        with opener.open(url, timeout=SECONDS) as page:
            page.read(64 * 1024)
    except (urllib.error.URLError, OSError) as error:
        sys.stderr.write("play-browser: %s\n" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
