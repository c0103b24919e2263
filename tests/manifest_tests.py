#!/usr/bin/env python3
"""The application manifest as Windows reads it: from the built executable.

usage: manifest_tests.py VELMORA_EXE
"""
import struct
import sys
import unittest
import xml.etree.ElementTree as ET

from pack_tests import rcdata_resources

EXE = None
RT_MANIFEST = 24
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPAT = "{urn:schemas-microsoft-com:compatibility.v1}"
SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SETTINGS_2017 = "{http://schemas.microsoft.com/SMI/2017/WindowsSettings}"
WINDOWS = {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7", "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
           "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11"}


class Manifest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.manifests = rcdata_resources(EXE, RT_MANIFEST)
        cls.root = ET.fromstring(cls.manifests[1]) if 1 in cls.manifests else None

    def test_one_manifest_with_id_1_that_parses(self):
        self.assertEqual(list(self.manifests), [1])
        self.assertEqual(self.root.tag, ASM_V1 + "assembly")
        self.assertEqual(self.root.get("manifestVersion"), "1.0")

    def test_runs_as_the_user_who_started_it(self):
        levels = self.root.findall(".//%strustInfo/%ssecurity/%srequestedPrivileges/%srequestedExecutionLevel"
                                   % ((ASM_V3,) * 4))
        self.assertEqual([(e.get("level"), e.get("uiAccess")) for e in levels], [("asInvoker", "false")])

    def test_names_every_windows_from_7_to_11(self):
        ids = [e.get("Id") for e in self.root.findall(".//%scompatibility/%sapplication/%ssupportedOS"
                                                     % ((COMPAT,) * 3))]
        self.assertEqual(sorted(WINDOWS[i] for i in ids), ["10/11", "7", "8", "8.1"])

    def test_scaled_by_windows_with_sharp_text(self):
        settings = self.root.find(".//%sapplication/%swindowsSettings" % (ASM_V3, ASM_V3))
        self.assertIsNotNone(settings)
        self.assertEqual(settings.find(SETTINGS_2005 + "dpiAware").text, "false")
        self.assertEqual(settings.find(SETTINGS_2017 + "gdiScaling").text, "true")
        # No per-monitor awareness that would leave the fixed layout small.
        self.assertIsNone(settings.find(SETTINGS_2005 + "dpiAwareness"))


if __name__ == "__main__":
    EXE = sys.argv[1]
    del sys.argv[1:2]
    unittest.main(verbosity=2)
