// SPDX-License-Identifier: GPL-3.0-or-later
.pragma library

// The first item in the tree under `item` (itself included) that `accept` takes.
function findItem(item, accept) {
    if (accept(item))
        return item
    for (var i = 0; i < item.children.length; ++i) {
        var found = findItem(item.children[i], accept)
        if (found)
            return found
    }
    return null
}
