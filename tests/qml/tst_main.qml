// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtQuick.Window 2.14
import QtTest 1.14
import "finditem.js" as Tree

// The window document as start-up loads it. Drops, loading and storing are
// exercised from C++, where drag events can be sent.
TestCase {
    name: "MainWindow"

    property var window: null

    function withProperty(name) {
        return Tree.findItem(window.contentItem, function(item) { return item.hasOwnProperty(name) })
    }

    function initTestCase() {
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        window = component.createObject(null)
        verify(window)
    }

    function cleanupTestCase() {
        window.destroy()
    }

    // 1040×960 where the screen has room, never more than 90 % of the room there is.
    function test_window() {
        compare(window.title, "Tando Project Editor")
        compare(window.width, Math.min(1040, Math.floor(Screen.desktopAvailableWidth * 0.9)))
        compare(window.height, Math.min(960, Math.floor(Screen.desktopAvailableHeight * 0.9)))
    }

    // A failure's reason wraps at spaces only, to up to three lines; more
    // gets Details. A file name keeps to one line. `rooms`: how many times
    // the room beside the heading the detail takes on one line.
    function test_outcomeDetail_data() {
        return [
            { tag: "short reason", kind: "failure", rooms: 0, lines: 1, cut: false },
            { tag: "long reason wraps", kind: "failure", rooms: 1.5, lines: 2, cut: false },
            { tag: "longer reason", kind: "failure", rooms: 2.5, lines: 3, cut: false },
            { tag: "too long a reason", kind: "failure", rooms: 6, lines: 3, cut: true },
            { tag: "file name", kind: "success", rooms: 0, lines: 1, cut: false }
        ]
    }

    function test_outcomeDetail(data) {
        var outcome = withProperty("detailLines")
        var shown = Tree.findItem(outcome, function(item) { return item.objectName === "outcomeDetail" })
        var details = Tree.findItem(outcome, function(item) { return item.text === "Details" })
        var project = withProperty("project").project
        project.loaded = true
        metrics.font = shown.font
        var detail = "venue-new spring.tgz"
        outcome.show(data.kind, "Saving failed", detail)
        while (metrics.advanceWidth(detail) < data.rooms * outcome.detailRoom)
            detail += " venue-new.tgz was not written"
        outcome.show(data.kind, "Saving failed", detail)
        compare(shown.lineCount, data.lines)
        verify(shown.x + shown.width <= outcome.maximumWidth, shown.width)
        var lines = shown.text.split("\n")
        for (var i = 0; i < lines.length; ++i) {
            var whole = lines[i].split(" ").every(function(word) { return word === "\u2026" || detail.indexOf(word) >= 0 })
            verify(whole, lines[i])
        }
        if (!data.cut)
            compare(shown.text.replace(/\n/g, " "), detail)
        compare(details.visible, data.cut)
        outcome.hide()
        project.loaded = false
    }

    FontMetrics {
        id: metrics
    }

    function test_screenFollowsLoaded_data() {
        return [
            { tag: "no project", loaded: false },
            { tag: "project loaded", loaded: true }
        ]
    }

    function test_screenFollowsLoaded(data) {
        var project = withProperty("project").project
        var startText = Tree.findItem(window.contentItem, function(item) {
            return item.text === "No Project loaded so far. Drag and Drop a Project File to start\n\n or"
        })
        var settingsHeading = Tree.findItem(window.contentItem, function(item) { return item.text === "Project Setting" })
        project.loaded = data.loaded
        compare(startText.visible, !data.loaded)
        compare(settingsHeading.visible, data.loaded)
        project.loaded = false
    }

    function test_basename_data() {
        return [
            { tag: "url", path: "file:///home/u/p.tgz", expected: "p.tgz" },
            { tag: "bare name", path: "p.tgz", expected: "p.tgz" },
            { tag: "trailing slash", path: "/home/u/", expected: "" }
        ]
    }

    function test_basename(data) {
        compare(withProperty("droppedFile").basename(data.path), data.expected)
    }
}
