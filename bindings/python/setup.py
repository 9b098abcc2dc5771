# The kolvex module for pip: pip install ./bindings/python (offline with the
# distribution's setuptools). It needs libkolvex (Linux) or kolvex.dll
# (Windows) at run time.
import os
import re

from setuptools import setup

# The version is the project's, set once in the top CMakeLists.txt.
with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "CMakeLists.txt")) as f:
    VERSION = re.search(r"project\(kolvex VERSION ([0-9.]+)", f.read()).group(1)

setup(
    name="kolvex",
    version=VERSION,
    description="Terminal identity collector: Python binding of libkolvex's C interface",
    license="see LICENSE of the kolvex sources",
    packages=["kolvex"],
    python_requires=">=3.9",
)
