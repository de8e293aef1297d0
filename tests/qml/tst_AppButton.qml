// SPDX-License-Identifier: GPL-3.0-or-later
import QtQuick 2.14
import QtTest 1.14
import "qrc:/"

Item {
    id: scene
    width: 400
    height: 200

    Component {
        id: buttonFactory
        // Offscreen, Qt Quick Controls leave hover off unless asked.
        AppButton {
            x: 20
            y: 20
            hoverEnabled: true
        }
    }

    TestCase {
        name: "AppButton"
        when: windowShown

        function sameColor(actual, expected) {
            return Qt.colorEqual(actual, expected)
        }

        function test_defaultCaption() {
            var button = createTemporaryObject(buttonFactory, scene)
            compare(button.text, "Button")
            compare(button.contentItem.text, "Button")
            button.text = "Store Project"
            compare(button.contentItem.text, "Store Project")
        }

        function test_hover_data() {
            return [
                { tag: "default colour", color: undefined, expected: "#064BC0" },
                { tag: "own colour", color: "green", expected: "green" }
            ]
        }

        function test_hover(data) {
            var button = createTemporaryObject(buttonFactory, scene)
            if (data.color !== undefined)
                button.color = data.color

            verify(sameColor(button.background.color, "white"))
            verify(sameColor(button.contentItem.color, data.expected))
            verify(sameColor(button.background.border.color, data.expected))

            mouseMove(button, button.width / 2, button.height / 2)
            tryCompare(button, "hovered", true)
            verify(sameColor(button.background.color, data.expected))
            verify(sameColor(button.contentItem.color, "white"))

            mouseMove(scene, scene.width - 5, scene.height - 5)
            tryCompare(button, "hovered", false)
            verify(sameColor(button.background.color, "white"))
            verify(sameColor(button.contentItem.color, data.expected))

            // Still bound after hovering: a colour set later reaches the caption.
            button.color = "purple"
            verify(sameColor(button.contentItem.color, "purple"))
        }

        function test_disabledIsFaded() {
            var button = createTemporaryObject(buttonFactory, scene)
            compare(button.contentItem.opacity, 1)
            compare(button.background.opacity, 1)
            button.enabled = false
            compare(button.contentItem.opacity, 0.3)
            compare(button.background.opacity, 0.3)
        }
    }
}
