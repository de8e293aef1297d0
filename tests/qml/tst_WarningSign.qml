// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtTest 1.14
import "qrc:/"

Item {
    id: scene
    width: 300
    height: 300

    Component {
        id: signFactory
        WarningSign {
            x: 100
            y: 100
        }
    }

    TestCase {
        name: "WarningSign"
        when: windowShown

        function glyphOf(sign) {
            return sign.children[0]
        }

        // The tool tip and the hover handler are not items: they sit among the resources.
        function resourceWith(sign, property) {
            for (var i = 0; i < sign.resources.length; ++i) {
                if (sign.resources[i].hasOwnProperty(property))
                    return sign.resources[i]
            }
            return null
        }

        function toolTipOf(sign) {
            return resourceWith(sign, "timeout")
        }

        function test_defaultBadge() {
            var sign = createTemporaryObject(signFactory, scene)
            compare(sign.width, 40)
            compare(sign.height, 40)
            verify(Qt.colorEqual(sign.color, "#ba2d25"))
            compare(sign.signtext, "!")
            compare(glyphOf(sign).text, "!")
            verify(Qt.colorEqual(glyphOf(sign).color, "white"))
            compare(sign.text, "")
        }

        function test_glyphFollowsHeight_data() {
            return [
                { tag: "20x20", size: 20 },
                { tag: "40x40", size: 40 },
                { tag: "64x64", size: 64 }
            ]
        }

        function test_glyphFollowsHeight(data) {
            var sign = createTemporaryObject(signFactory, scene, { width: data.size, height: data.size })
            compare(glyphOf(sign).font.pixelSize, data.size)
        }

        function test_checkMarkBadge() {
            var sign = createTemporaryObject(signFactory, scene)
            sign.signtext = "\u2713"
            sign.signcolor = "green"
            compare(glyphOf(sign).text, "\u2713")
            verify(Qt.colorEqual(sign.color, "green"))
            verify(Qt.colorEqual(glyphOf(sign).color, "white"))
        }

        function test_toolTipOnHover_data() {
            return [
                { tag: "with text", text: "MAC assigned twice", shown: true },
                { tag: "without text", text: "", shown: false }
            ]
        }

        function test_toolTipOnHover(data) {
            var sign = createTemporaryObject(signFactory, scene, { text: data.text })
            var tip = toolTipOf(sign)
            verify(tip !== null)
            compare(tip.text, data.text)
            compare(tip.visible, false)

            var hover = resourceWith(sign, "hovered")
            verify(hover !== null)
            mouseMove(sign, sign.width / 2, sign.height / 2)
            tryCompare(hover, "hovered", true)
            tryCompare(tip, "visible", data.shown)

            mouseMove(scene, 5, 5)
            tryCompare(tip, "visible", false)
        }
    }
}
