# Writes a zip archive of N empty stored entries all in its root folder, in no name order (the explorer's
# worst case: one folder holding every entry): make_flat_zip.py out.zip N
import sys, zipfile
out, n = sys.argv[1], int(sys.argv[2])
exts = ['txt', 'JPG', 'c', 'H', 'png', 'Md', 'bin', 'xml']
with zipfile.ZipFile(out, 'w', zipfile.ZIP_STORED, allowZip64=True) as z:
    for i in range(n):
        k = (i * 7919) % n
        info = zipfile.ZipInfo('%s%d.%s' % ('File' if k % 3 == 0 else 'file', k, exts[k % len(exts)]),
                               date_time=(2020, 1 + k % 12, 1 + k % 28, 0, 0, 0))
        z.writestr(info, b'')
