# Writes a zip archive with N small stored entries spread over folders: make_zip.py out.zip N
import sys, zipfile
out, n = sys.argv[1], int(sys.argv[2])
exts = ['txt', 'jpg', 'c', 'h', 'png', 'md', 'bin', 'xml']
with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED, allowZip64=True) as z:
    for i in range(n):
        info = zipfile.ZipInfo('dir%03d/sub%02d/file%07d.%s' % (i % 997, i % 31, i, exts[i % len(exts)]),
                               date_time=(2020 + i % 5, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0))
        z.writestr(info, b'x' * (i % 7))
