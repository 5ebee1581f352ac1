# The benchmark's inputs: make_inputs.py base.zip ENTRIES folder FILES
# A deflated zip of ENTRIES small text entries over 500 folders, and a folder of FILES small text
# files (200 to 2,200 bytes) over 50 sub-folders, all of one fixed time.
import os, random, sys, zipfile
out, entries, folder, files = sys.argv[1], int(sys.argv[2]), sys.argv[3], int(sys.argv[4])
rnd = random.Random(7)
words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 9))) for _ in range(400)]
def text(n):
    return (' '.join(rnd.choice(words) for _ in range(n // 5)) + '\n').encode()[:n]
with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED, compresslevel=6) as z:
    for i in range(entries):
        info = zipfile.ZipInfo('old%03d/entry%06d.txt' % (i % 500, i), date_time=(2022, 5, 6, 7, 8, 10))
        info.compress_type = zipfile.ZIP_DEFLATED
        info.external_attr = 0o644 << 16
        z.writestr(info, text(100 + i % 900))
for i in range(files):
    d = os.path.join(folder, 'sub%02d' % (i % 50))
    os.makedirs(d, exist_ok=True)
    p = os.path.join(d, 'file%05d.txt' % i)
    with open(p, 'wb') as f:
        f.write(text(200 + (i * 37) % 2000))
    os.utime(p, (1650000000, 1650000000))
