#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the fuzzers' seed inputs: small AVI files of every layout the reader knows (with tiny
# samples, so the corpus stays small) and the metadata blocks of DV frames with packs in them.
# Usage: python3 fuzz/corpus/make_seeds.py   (rewrites fuzz/corpus/*/seed_*)
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def chunk(cid, payload, pad=True):
    data = cid + struct.pack('<I', len(payload)) + payload
    if pad and len(payload) % 2:
        data += b'\0'
    return data


def lst(ltype, payload):
    return chunk(b'LIST', ltype + payload)


def strl(stype, handler, rate, scale, length, bufsize, index_payload=None):
    strh = struct.pack('<4s4sIHHIIIIIIII8x', stype, handler, 0, 0, 0, 0, scale, rate, 0, length, bufsize, 0, 0)
    if stype == b'auds':
        strf = struct.pack('<HHIIHHH', 1, 2, 48000, 192000, 4, 16, 0)
    elif stype == b'iavs':
        strf = bytes(32)
    else:
        strf = struct.pack('<IiiHHI4sIiiII', 40, 720, 576, 1, 24, 0, b'dvsd', 0, 0, 0, 0, 0)[:40]
    body = chunk(b'strh', strh) + chunk(b'strf', strf)
    if index_payload is not None:
        body += chunk(b'indx', index_payload)
    return lst(b'strl', body)


def frame(i, size, dv=False):
    # A tiny stand-in for a DV frame. A DV one starts with the IDs of a header block (PAL), a
    # subcode block and a VAUX block, so that it is taken for DV and reaches the analysis.
    data = bytearray((i * 7 + k) & 0xFF for k in range(size))
    if dv:
        for at, block_id in ((0, b'\x1f\x07\x00\xbf'), (80, b'\x3f\x07\x00'), (240, b'\x5f\x07\x00')):
            if at + len(block_id) <= size:
                data[at:at + len(block_id)] = block_id
    return bytes(data)


def avi(streams, frames, index='idx1', rate=25, scale=1, odd_junk=False, forms=1, frame_size=480,
        dmlh=False, repeat_super=False, base_shift=0, delta_frames=False, empty_forms=0):
    """streams: list of b'vids' / b'auds' / b'iavs'. dmlh: an OpenDML header with the total frame
    count; repeat_super: each super index names its first standard index once more; base_shift:
    added to every standard index's base offset; delta_frames: standard index sizes carry the
    not-a-key-frame bit; empty_forms: 'AVIX' forms without a movie list at the end."""
    ids = []
    for n, s in enumerate(streams):
        suffix = {b'vids': b'dc', b'auds': b'wb', b'iavs': b'__'}[s]
        ids.append(b'%02d' % n + suffix)
    per_form = [frames // forms + (1 if f < frames % forms else 0) for f in range(forms)]
    opendml = index == 'opendml'
    super_size = 24 + 16 * 4

    def header_list(super_payloads):
        hdr = struct.pack('<IIIIIIIIII16x', 40000, 0, 0, 0x10, frames, 0, len(streams), 480, 720, 576)
        body = chunk(b'avih', hdr)
        if dmlh:
            body += lst(b'odml', chunk(b'dmlh', struct.pack('<I', frames) + bytes(244)))
        for n, s in enumerate(streams):
            payload = super_payloads[n] if opendml else None
            body += strl(s, b'' if s == b'auds' else b'dvsd', 48000 if s == b'auds' else rate,
                         1 if s == b'auds' else scale, per_form[0], frame_size, payload)
        return lst(b'hdrl', body)

    def build(super_payloads):
        out = bytearray()
        entries = [[] for _ in streams]  # per form: (stream, chunk offset, size)
        idx1 = []
        supers = [[] for _ in streams]
        count = 0
        for f in range(forms):
            riff_at = len(out)
            out += b'RIFF' + b'\0\0\0\0' + (b'AVI ' if f == 0 else b'AVIX')
            if f == 0:
                out += header_list(super_payloads)
            movi_at = len(out)
            out += b'LIST\0\0\0\0movi'
            form_entries = [[] for _ in streams]
            for _ in range(per_form[f]):
                for n, s in enumerate(streams):
                    size = 16 if s == b'auds' else frame_size
                    at = len(out)
                    out += chunk(ids[n], frame(count, size, dv=s != b'auds'))
                    form_entries[n].append((at, size))
                    if f == 0:
                        idx1.append((ids[n], at, size))
                if odd_junk:
                    out += chunk(b'JUNK', b'x' * 5, pad=False)
                count += 1
            if opendml:
                for n in range(len(streams)):
                    payload = struct.pack('<HBBI4sQI', 2, 0, 1, len(form_entries[n]), ids[n], riff_at + base_shift, 0)
                    for at, size in form_entries[n]:
                        payload += struct.pack('<II', at + 8 - riff_at, size | (0x80000000 if delta_frames else 0))
                    ix_at = len(out)
                    out += chunk(b'ix%02d' % n, payload)
                    supers[n].append((ix_at, len(payload) + 8, len(form_entries[n])))
            struct.pack_into('<I', out, movi_at + 4, len(out) - movi_at - 8)
            if f == 0 and index in ('idx1', 'idx1abs', 'opendml'):
                base = 0 if index == 'idx1abs' else movi_at + 8
                payload = b''.join(struct.pack('<4sIII', cid, 0x10, at - base, size) for cid, at, size in idx1)
                out += chunk(b'idx1', payload)
            struct.pack_into('<I', out, riff_at + 4, len(out) - riff_at - 8)
        for _ in range(empty_forms):
            out += b'RIFF' + struct.pack('<I', 4) + b'AVIX'
        return bytes(out), supers

    empty = [bytes(super_size)] * len(streams)
    data, supers = build(empty)
    if opendml:
        payloads = []
        for n in range(len(streams)):
            named = supers[n] + (supers[n][:1] if repeat_super else [])
            p = struct.pack('<HBBI4s12x', 4, 0, 0, len(named), ids[n])
            for at, size, duration in named:
                p += struct.pack('<QII', at, size, duration)
            payloads.append(p.ljust(super_size, b'\0'))
        data, _ = build(payloads)
    return data


def metadata_blocks(pal=True, timecode=(1, 2, 3, 4), date=(24, 7, 14), time=(18, 3, 9), camera=True, shutter=0x0138):
    """Blocks 1..5 of every sequence, 400 bytes each, as the frame analysis fuzzer spreads them."""
    sequences = 12 if pal else 10
    out = bytearray()
    bcd = lambda v: ((v // 10) << 4) | (v % 10)
    for s in range(sequences):
        blocks = bytearray(b'\xff' * 400)
        for b in range(2):  # subcode blocks: 6 packs of 8 bytes behind 3 header bytes
            for k in range(6):
                at = b * 80 + 6 + 8 * k
                if s >= sequences // 2 and k % 3 == 1 and date:
                    pack = bytes([0x62, 0xff, 0xc0 | bcd(date[2]), 0xe0 | bcd(date[1]), bcd(date[0])])
                elif s >= sequences // 2 and k % 3 == 2 and time:
                    pack = bytes([0x63, 0xff, 0x80 | bcd(time[2]), 0x80 | bcd(time[1]), 0xc0 | bcd(time[0])])
                else:
                    h, m, sec, f = timecode
                    pack = bytes([0x13, bcd(f), bcd(sec), bcd(m), bcd(h)])
                blocks[at:at + 5] = pack
        vaux = 160  # first VAUX block within the 400 bytes (block 3)
        if camera:
            blocks[vaux + 3:vaux + 8] = bytes([0x70, 0x08, 0x25, 0x24, 0xff])
        blocks[vaux + 13:vaux + 18] = bytes([0x7f, 0xff, 0xff, shutter & 0xff, shutter >> 8])
        out += blocks
    return bytes(out)


def write(folder, name, data):
    path = os.path.join(HERE, folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), 'wb') as f:
        f.write(data)


def main():
    r = 'avi_reader_fuzzer'
    write(r, 'seed_type2_idx1.avi', avi([b'vids', b'auds'], 4))
    write(r, 'seed_type2_idx1_file_offsets.avi', avi([b'vids', b'auds'], 3, index='idx1abs'))
    write(r, 'seed_type1_idx1.avi', avi([b'iavs'], 3))
    write(r, 'seed_type1_no_index.avi', avi([b'iavs'], 3, index='none'))
    write(r, 'seed_ntsc_odd_junk.avi', avi([b'vids'], 3, index='none', rate=30000, scale=1001, odd_junk=True))
    write(r, 'seed_opendml_avix.avi', avi([b'vids', b'auds'], 6, index='opendml', forms=3))
    write(r, 'seed_opendml_type1.avi', avi([b'iavs'], 4, index='opendml', forms=2))
    write(r, 'seed_opendml_dmlh_delta_frames.avi', avi([b'vids'], 4, index='opendml', forms=2, dmlh=True,
                                                         delta_frames=True))
    write(r, 'seed_opendml_super_index_repeats.avi', avi([b'vids', b'auds'], 4, index='opendml', forms=2,
                                                           repeat_super=True))
    write(r, 'seed_opendml_base_off_by_one.avi', avi([b'vids'], 3, index='opendml', base_shift=1))
    write(r, 'seed_opendml_empty_avix_forms.avi', avi([b'vids'], 3, index='opendml', empty_forms=3))
    write(r, 'seed_rate_missing.avi', avi([b'vids'], 3, rate=0, scale=0))
    a = 'frame_analysis_fuzzer'
    write(a, 'seed_pal_all_packs', metadata_blocks())
    write(a, 'seed_ntsc_all_packs', metadata_blocks(pal=False, timecode=(23, 59, 59, 29), shutter=0x81ff))
    write(a, 'seed_pal_no_camera_no_date', metadata_blocks(camera=False, date=None, time=None, shutter=0xffff))
    write(a, 'seed_pal_year_1925', metadata_blocks(date=(25, 12, 31), shutter=0x0000))


if __name__ == '__main__':
    main()
