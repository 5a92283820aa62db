"""reproducible-zip.py ZIP: rewrites ZIP in place so that its bytes follow from the names,
contents, times and permissions of its files alone, every folder rwxr-xr-x. CPack's archives also record the owner
(user and group ids) of the files it staged, which is whoever built them; this drops that and
every other extra field, and puts the entries in the order of their names."""
import sys
import zipfile

path = sys.argv[1]
with zipfile.ZipFile(path) as archive:
    entries = [(info, archive.read(info)) for info in archive.infolist()]
with zipfile.ZipFile(path, "w") as archive:
    for info, data in sorted(entries, key=lambda entry: entry[0].filename):
        fixed = zipfile.ZipInfo(info.filename, date_time=max(info.date_time, (1980, 1, 1, 0, 0, 0)))
        fixed.create_system = 3  # Unix, so that unzip honours the permissions
        # A folder that CPack stages below the top one keeps the builder's umask: give every
        # folder the same mode, rwxr-xr-x, as the top one has.
        fixed.external_attr = (0o40755 << 16) | 0x10 if info.is_dir() else info.external_attr
        fixed.compress_type = zipfile.ZIP_DEFLATED
        archive.writestr(fixed, data, compresslevel=9)
