#!/usr/bin/env python3
"""Counts the lines of every function body in Quillmart's C++ sources.

Usage: scripts/function-lengths.py [--over N] [--list] [folders...]
Prints how many functions run over 40 and over 60 lines (body, from the
opening brace to the closing one) and, with --list, names them longest first.
Lambdas and local classes count as part of the function around them.
It reads the text, not a compiler's tree: comments, strings and character
literals are blanked first, then a brace that follows a parameter list at
namespace or class level opens a function.
"""
import argparse
import os
import re
import sys

CONTROL = re.compile(r'\b(if|for|while|switch|catch|return|sizeof|decltype|alignof|'
                     r'static_assert|noexcept|requires)\s*$')


def blank_literals(text):
    """Replaces comments, strings and char literals by spaces, keeping line breaks."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i) and (i == 0 or not (text[i-1].isalnum() or text[i-1] == '_')):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if m:
                end = text.find(')' + m.group(1) + '"', i)
                end = n if end < 0 else end + len(m.group(1)) + 2
                out.append(re.sub(r'[^\n]', ' ', text[i:end]))
                i = end
            else:
                out.append(c)
                i += 1
        elif c in '"\'':
            if c == "'" and i > 0 and text[i-1].isalnum():   # digit separator 1'000
                out.append(' ')
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            j = min(j + 1, n)
            out.append(c + ' ' * (j - i - 2) + c if j - i >= 2 else ' ' * (j - i))
            i = j
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def functions(path):
    text = blank_literals(open(path, encoding='utf-8', errors='replace').read())
    text = re.sub(r'^\s*#.*$', '', text, flags=re.M)      # preprocessor lines
    results = []
    stack = []          # each entry: ('scope'|'func'|'block', start offset, name)
    last_stop = 0       # offset just past the last ; { or } at the current level
    for m in re.finditer(r'[{};]', text):
        ch, pos = m.group(), m.start()
        if ch == ';':
            last_stop = pos + 1
            continue
        if ch == '{':
            head = text[last_stop:pos]
            kind = 'block'
            name = ''
            if not stack or stack[-1][0] == 'scope':
                flat = ' '.join(head.split())
                if re.search(r'\b(namespace|class|struct|union|enum)\b[^()]*$', flat) or flat.endswith('extern "C"') or flat == '':
                    kind = 'scope'
                elif re.search(r'=\s*$', flat) or re.search(r'=\s*\w*$', flat):
                    kind = 'block'                       # brace initialiser
                else:
                    sig = re.sub(r'\s*(->.*|\b(const|override|final|noexcept|mutable)\b.*)$', '', flat)
                    sig = re.sub(r'\)\s*:\s*.*$', ')', sig)   # constructor initialiser list
                    if sig.endswith(')'):
                        depth, k = 0, len(sig) - 1
                        while k >= 0:
                            depth += sig[k] == ')'
                            depth -= sig[k] == '('
                            if depth == 0:
                                break
                            k -= 1
                        before = sig[:k].rstrip()
                        if before and not CONTROL.search(before):
                            kind = 'func'
                            name = re.findall(r'[\w:~<>,=!+\-*/\[\]&|^%]+$', before)
                            name = name[0] if name else before[-40:]
                    elif stack:
                        kind = 'block'
            stack.append((kind, pos, name))
            last_stop = pos + 1
        else:
            if stack:
                kind, start, name = stack.pop()
                if kind == 'func':
                    first = text.count('\n', 0, start) + 1
                    last = text.count('\n', 0, pos) + 1
                    results.append((last - first + 1, name, first))
            last_stop = pos + 1
    return results


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument('folders', nargs='*', default=['dbf', 'index', 'dataset', 'net', 'app'])
    ap.add_argument('--over', type=int, default=40, help='list functions longer than this')
    ap.add_argument('--list', action='store_true')
    args = ap.parse_args()
    found = []
    for folder in args.folders:
        for root, _, files in os.walk(folder):
            for f in sorted(files):
                if f.endswith(('.cpp', '.h', '.hpp', '.cc')):
                    p = os.path.join(root, f)
                    found += [(n, p, name, line) for n, name, line in functions(p)]
    found.sort(reverse=True)
    over40 = [x for x in found if x[0] > 40]
    over60 = [x for x in found if x[0] > 60]
    print(f'{len(found)} functions; {len(over40)} over 40 lines; {len(over60)} over 60 lines; '
          f'longest {found[0][0] if found else 0}')
    if args.list:
        for n, p, name, line in found:
            if n > args.over:
                print(f'{n:5} {p}:{line} {name}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
