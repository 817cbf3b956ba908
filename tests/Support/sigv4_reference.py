#!/usr/bin/python3
"""Signs S3 requests with botocore, as an independent reference for the signing tests.

Reads one JSON array of cases on standard input and writes one JSON array of results.
A case: {"method", "url", "headers": [[name, value], ...], "bodyHex", "accessKey", "secretKey",
"region", "timestamp" (yyyymmddTHHMMSSZ), optional "presignSeconds"}.
Signing gives {"authorization", "headers": {lower-case name: value}}; presigning gives {"url"}.
The query of a signed URL is handed to botocore as decoded parameters, so botocore encodes and
sorts it by its own rules.
"""

import datetime
import json
import sys
from unittest import mock
from urllib.parse import quote, unquote_to_bytes, urlsplit, urlunsplit

from botocore.auth import S3SigV4Auth, S3SigV4QueryAuth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials


def params_of(query):
    pairs = []
    for piece in query.split('&'):
        name, _, value = piece.partition('=')
        pairs.append((unquote_to_bytes(name).decode('utf-8'), unquote_to_bytes(value).decode('utf-8')))
    return pairs


def run(case):
    credentials = Credentials(case['accessKey'], case['secretKey'])
    when = datetime.datetime.strptime(case['timestamp'], '%Y%m%dT%H%M%SZ')
    body = bytes.fromhex(case.get('bodyHex', ''))
    with mock.patch('botocore.auth.datetime') as fake:
        fake.datetime.utcnow.return_value = when
        fake.datetime.strptime = datetime.datetime.strptime
        if 'presignSeconds' in case:
            request = AWSRequest(method='GET', url=case['url'])
            S3SigV4QueryAuth(credentials, 's3', case['region'], expires=case['presignSeconds']).add_auth(request)
            return {'url': request.url}
        parts = urlsplit(case['url'])
        request = AWSRequest(method=case['method'], url=urlunsplit((parts[0], parts[1], parts[2] or '/', '', '')),
                             headers=dict(case.get('headers', [])), data=body)
        # botocore reads the path from the URL as it is (an empty one is sent as "/") and takes
        # the query from params.
        if parts.query:
            request.params = params_of(parts.query)
        S3SigV4Auth(credentials, 's3', case['region']).add_auth(request)
        return {
            'authorization': request.headers['Authorization'],
            'headers': {name.lower(): value for name, value in request.headers.items()},
        }


def main():
    cases = json.load(sys.stdin)
    json.dump([run(case) for case in cases], sys.stdout)


if __name__ == '__main__':
    main()
