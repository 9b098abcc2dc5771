"""The kolvex wheel's build backend: setuptools, run in a scratch copy of
this folder. setuptools writes build/ and kolvex.egg-info/ beside the
sources, which fails in a read-only tree (a root-owned checkout, an unpacked
archive) and leaves them behind in a writable one; every hook runs in the
copy, so that any user builds the wheel from such a tree."""
import os
import shutil
import tempfile

from setuptools import build_meta


def _in_scratch_copy(hook, writes_to_directory):
    # writes_to_directory: the hook's first argument is the folder it writes
    # into, relative to the tree.
    def run(*args, **kwargs):
        source = os.getcwd()
        if writes_to_directory:
            args = (os.path.abspath(args[0]),) + args[1:]
        with tempfile.TemporaryDirectory() as scratch:
            copy = os.path.join(scratch, "kolvex")
            shutil.copytree(
                source,
                copy,
                ignore=shutil.ignore_patterns("build", "dist", "*.egg-info", "__pycache__"),
                copy_function=shutil.copyfile,  # writable, whatever the modes of the tree
            )
            for folder, _, _ in os.walk(copy):
                os.chmod(folder, 0o755)
            os.chdir(copy)
            try:
                return hook(*args, **kwargs)
            finally:
                os.chdir(source)

    return run


get_requires_for_build_wheel = _in_scratch_copy(build_meta.get_requires_for_build_wheel, False)
get_requires_for_build_sdist = _in_scratch_copy(build_meta.get_requires_for_build_sdist, False)
prepare_metadata_for_build_wheel = _in_scratch_copy(build_meta.prepare_metadata_for_build_wheel, True)
build_wheel = _in_scratch_copy(build_meta.build_wheel, True)
build_sdist = _in_scratch_copy(build_meta.build_sdist, True)
