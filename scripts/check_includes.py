#!/usr/bin/env python3
"""Fails when a file includes a header of an area its own area may not use.

    check_includes.py SOURCE_DIR LAYERS_FILE

LAYERS_FILE is written by CMake from the kavor_area/kavor_layer declarations,
one area a line: "NAME DIR [DEP_NAME...]". A file belongs to the area with
the longest DIR that contains it; an include, quoted or in angle brackets,
belongs to the area with the longest DIR that prefixes its path, when the
path starts with one of the project's top-level folders (<windows.h>,
<string> or <gtest/gtest.h> name none). Including from one's own area or a
declared dependency is fine; anything else (a lower layer reaching up, or a
sideways include) is reported. Includes of no area (system, gtest) pass.
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*(?:"([^"]+)"|<([^>]+)>)')
SUFFIXES = ('.h', '.cc', '.c', '.rc')


def area_of(path, areas):
    best = None
    for name, (directory, _) in areas.items():
        if path == directory or path.startswith(directory + '/'):
            if best is None or len(directory) > len(areas[best][0]):
                best = name
    return best


def main():
    root, layers_file = sys.argv[1], sys.argv[2]
    areas = {}
    with open(layers_file) as f:
        for line in f:
            words = line.split()
            if words:
                areas[words[0]] = (words[1].rstrip('/'), set(words[2:]))
    for name, (_, deps) in areas.items():
        for dep in deps:
            if dep not in areas:
                print(f'area {name} depends on unknown area {dep}')
                return 1

    top_folders = {entry for entry in os.listdir(root)
                   if os.path.isdir(os.path.join(root, entry))}
    faults = 0
    checked = 0
    for name, (directory, _) in sorted(areas.items()):
        for dirpath, _, files in os.walk(os.path.join(root, directory)):
            for file_name in sorted(files):
                if not file_name.endswith(SUFFIXES):
                    continue
                full = os.path.join(dirpath, file_name)
                rel = os.path.relpath(full, root).replace(os.sep, '/')
                own = area_of(rel, areas)
                if own != name:
                    continue  # Belongs to a nested area; checked there.
                checked += 1
                allowed = areas[own][1] | {own}
                with open(full, encoding='utf-8', errors='replace') as f:
                    for number, text in enumerate(f, 1):
                        match = INCLUDE.match(text)
                        if not match:
                            continue
                        included = match.group(1) or match.group(2)
                        if included.split('/')[0] not in top_folders:
                            continue
                        target = area_of(included, areas)
                        if target is None or target in allowed:
                            continue
                        print(f'{rel}:{number}: includes "{included}" '
                              f'of area {target}; area {own} may include '
                              f'only {", ".join(sorted(allowed))}')
                        faults += 1
    if checked == 0:
        print('no source files found: wrong SOURCE_DIR?')
        return 1
    print(f'{checked} files checked, {faults} upward or undeclared includes')
    return 1 if faults else 0


if __name__ == '__main__':
    sys.exit(main())
