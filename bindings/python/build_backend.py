"""The kolvex wheel's build backend: setuptools, run in a scratch copy of
this folder. setuptools writes build/ and kolvex.egg-info/ beside the
sources, which fails in a read-only tree (a root-owned checkout, an unpacked
archive); the copy lets any user build the wheel from such a tree."""
import os
import shutil
import tempfile

from setuptools import build_meta


def _in_scratch_copy(hook):
    def run(output_directory, *args, **kwargs):
        source = os.getcwd()
        output_directory = os.path.abspath(output_directory)
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
                return hook(output_directory, *args, **kwargs)
            finally:
                os.chdir(source)

    return run


get_requires_for_build_wheel = build_meta.get_requires_for_build_wheel
get_requires_for_build_sdist = build_meta.get_requires_for_build_sdist
prepare_metadata_for_build_wheel = _in_scratch_copy(build_meta.prepare_metadata_for_build_wheel)
build_wheel = _in_scratch_copy(build_meta.build_wheel)
build_sdist = _in_scratch_copy(build_meta.build_sdist)
