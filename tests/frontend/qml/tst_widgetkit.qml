import QtQuick
import QtTest
import "qrc:/qml"
import "qrc:/qml/OS" as OS

// Hosts the kit the way a window document does: the kit finds scf, gradiendVar, prop, background
// and mainFunctions in the document that contains it.
Item {
    id: root
    width: 480
    height: 360

    property real scf: 1
    property int gradiendVar: 0

    OS.CurrentTheme { id: theme }
    Properties {
        id: prop
        readonly property alias defaultFont: theme.defaultFont
        readonly property alias fonts: theme.fonts
        readonly property alias osName: theme.name
    }
    Background { id: background }
    Functions { id: mainFunctions }

    Btn {
        id: button
        x: 10
        y: 10
        iconName: "Select File"
        iconWidth: 130 * scf
        iconHeight: 130 * scf
    }

    SignalSpy {
        id: buttonClicks
        target: button
        signalName: "clicked"
    }

    TextBtn {
        id: textButton
        x: 160
        y: 10
        width: 150 * scf
        height: 44 * scf
        text: "PROCESS"
    }

    SignalSpy {
        id: textButtonClicks
        target: textButton
        signalName: "clicked"
    }

    ProgressBar {
        id: progress
        x: 10
        y: 160
    }

    Dropdown {
        id: formats
        x: 10
        y: 200
        width: 100 * scf
        mainVisible: false
        model: ["MP3", "WAV", "FLAC"]
        currentIndex: -1

        property var chosen: []
        onActivated: function(index) { chosen.push({ index: index, text: textAt(index) }) }
    }

    TextField {
        id: nameField
        y: 230
        width: 300
        label: "Name"
        value: "Alice"
    }

    TextField {
        id: passwordField
        y: 300
        width: 300
        label: "Password"
        value: "secret12"
    }

    function pictureOf(item) {
        return decodeURIComponent(String(item.background.source))
    }

    TestCase {
        name: "Btn"
        when: windowShown

        function init() {
            button.enabled = true
            button.isCustomHovered = false
            mouseMove(root, root.width - 1, root.height - 1)
        }

        function test_normalShowsUpPicture() {
            compare(button.state, "")
            compare(pictureOf(button), "qrc:/icons/Select File-U.svg")
            tryCompare(button.background, "status", Image.Ready)
        }

        function test_hoveredShowsFocusPicture() {
            mouseMove(button, 65, 65)
            tryCompare(button, "state", "hovered")
            compare(pictureOf(button), "qrc:/icons/Select File-F.svg")
        }

        function test_pressedWhileHoveredShowsDownPicture() {
            mouseMove(button, 65, 65)
            mousePress(button, 65, 65)
            compare(button.state, "pressed")
            compare(pictureOf(button), "qrc:/icons/Select File-D.svg")
            mouseRelease(button, 65, 65)
            compare(button.state, "hovered")
        }

        function test_disabledShowsGreyPicture() {
            button.enabled = false
            compare(button.state, "disabled")
            compare(pictureOf(button), "qrc:/icons/Select File-X.svg")
            tryCompare(button.background, "status", Image.Ready)
        }

        function test_customHoverWithoutPointer() {
            button.isCustomHovered = true
            verify(!button.hovered)
            compare(button.state, "hovered")
            compare(pictureOf(button), "qrc:/icons/Select File-F.svg")
        }

        function test_neverTakesFocus() {
            mouseClick(button, 65, 65)
            verify(!button.activeFocus)
        }

        function test_clickEmitsClicked() {
            buttonClicks.clear()
            mouseClick(button, 65, 65)
            compare(buttonClicks.count, 1)
        }

        function test_implicitSizeIsIconSize() {
            compare(button.implicitWidth, 130)
            compare(button.implicitHeight, 130)
        }
    }

    TestCase {
        name: "TextBtn"
        when: windowShown

        function init() {
            textButton.enabled = true
            textButtonClicks.clear()
        }

        function test_clickWhileEnabled() {
            mouseClick(textButton)
            compare(textButtonClicks.count, 1)
        }

        function test_disabledIgnoresClicks() {
            textButton.enabled = false
            mouseClick(textButton)
            compare(textButtonClicks.count, 0)
            compare(textButton.visualState, "disabled")
            compare(textButton.gradient, textButton.frameGradientX)
            compare(String(textButton.labelComponent.color), "#b3b3b3")
        }

        function test_statesFollowThePointer() {
            mouseMove(textButton, 20, 20)
            tryCompare(textButton, "visualState", "hovered")
            compare(textButton.gradient, textButton.frameGradientF)
            mouseMove(root, 470, 100)
            tryCompare(textButton, "visualState", "normal")
            compare(textButton.gradient, textButton.frameGradientU)
            mouseMove(textButton, 20, 20)
            mousePress(textButton, 20, 20)
            compare(textButton.visualState, "pressed")
            mouseRelease(textButton, 20, 20)
            compare(textButtonClicks.count, 1)
        }

        function test_customHover() {
            mouseMove(root, 470, 100)
            textButton.isCustomHovered = true
            compare(textButton.visualState, "hovered")
            textButton.isCustomHovered = false
        }

        function test_pillShape() {
            compare(textButton.radius, textButton.height / 2)
        }
    }

    TestCase {
        name: "ProgressBar"
        when: windowShown

        function cleanup() {
            root.scf = 1
            progress.percents = 0
        }

        function test_fill_data() {
            return [
                { tag: "empty", percents: 0, fraction: 0 },
                { tag: "half", percents: 50, fraction: 0.5 },
                { tag: "full", percents: 100, fraction: 1 },
                { tag: "over full", percents: 150, fraction: 1 },
                { tag: "negative", percents: -20, fraction: 0 }
            ]
        }

        function test_fill(data) {
            progress.percents = data.percents
            var filled = findChild(progress, "filledPart")
            var trackWidth = progress.width - 2 * progress.radius
            compare(filled.width, trackWidth * data.fraction)
        }

        function test_timerInterval_data() {
            return [
                { tag: "scale 1", scale: 1, interval: 30 },
                { tag: "scale 2", scale: 2, interval: 15 },
                { tag: "scale 0.75", scale: 0.75, interval: 40 },
                { tag: "scale 1.5", scale: 1.5, interval: 20 }
            ]
        }

        function test_timerInterval(data) {
            root.scf = data.scale
            var timer = findChild(progress, "stripeTimer")
            compare(timer.interval, data.interval)
            verify(timer.running)
        }

        function test_stripesMoveAndWrap() {
            var timer = findChild(progress, "stripeTimer")
            progress.stripeOffset = -4
            timer.triggered()
            compare(progress.stripeOffset, -2)
            timer.triggered()
            compare(progress.stripeOffset, -progress.tileWidth)
        }

        function test_timerStopsWhileHidden() {
            var timer = findChild(progress, "stripeTimer")
            progress.visible = false
            verify(!timer.running)
            progress.visible = true
            verify(timer.running)
        }

        function test_implicitSizeFollowsScale() {
            root.scf = 2
            compare(progress.implicitWidth, 680)
            compare(progress.implicitHeight, 60)
            compare(progress.tileWidth, 64)
        }
    }

    TestCase {
        name: "Dropdown"
        when: windowShown

        function init() {
            formats.currentIndex = -1
            formats.chosen = []
        }

        function cleanup() {
            formats.popup.close()
        }

        function test_hiddenBox() {
            verify(!formats.background.visible)
            verify(!formats.indicator.visible)
            verify(!formats.contentItem.visible)
        }

        function test_popupHighlightsNothing() {
            formats.popup.open()
            tryCompare(formats.popup, "opened", true)
            compare(formats.highlightedIndex, -1)
            var list = formats.popup.contentItem
            compare(list.count, 3)
            for (var i = 0; i < list.count; ++i) {
                var item = list.itemAtIndex(i)
                verify(!item.highlighted)
                compare(item.background.color, Qt.rgba(0, 0, 0, 0))
            }
        }

        function test_choosingRunsActivated() {
            formats.popup.open()
            tryCompare(formats.popup, "opened", true)
            var entry = formats.popup.contentItem.itemAtIndex(2)
            mouseClick(entry)
            compare(formats.chosen.length, 1)
            compare(formats.chosen[0].index, 2)
            compare(formats.chosen[0].text, "FLAC")
            compare(formats.currentIndex, 2)
            tryCompare(formats.popup, "visible", false)
        }

        function test_currentEntryDemiBoldAndHighlighted() {
            formats.currentIndex = 1
            formats.popup.open()
            tryCompare(formats.popup, "opened", true)
            var current = formats.popup.contentItem.itemAtIndex(1)
            verify(current.highlighted)
            compare(current.font.weight, Font.DemiBold)
            compare(String(current.background.color), "#60aeff")
            compare(formats.popup.contentItem.itemAtIndex(0).font.weight, Font.Normal)
        }
    }

    QtObject {
        id: accountWindow
        property bool editing: true
    }

    TestCase {
        name: "TextField"
        when: windowShown

        function cleanup() {
            testHelper.releaseCreated()
        }

        function test_readOnlyWithoutAccountWindow() {
            verify(!nameField.editing)
            verify(!findChild(nameField, "valueInput").parent.visible)
            compare(findChild(nameField, "valueText").text, "Alice")
            compare(findChild(passwordField, "valueText").text, "******")
        }

        function test_heightFollowsCaption() {
            var caption = nameField.children[0].children[0]
            compare(caption.text, "Name:")
            compare(nameField.height, caption.height + 37)
        }

        function test_editingInAccountWindow_data() {
            return [
                { tag: "name", label: "Name", value: "Alice" },
                { tag: "password", label: "Password", value: "secret12" }
            ]
        }

        function test_editingInAccountWindow(data) {
            var field = testHelper.createWithContext(Qt.resolvedUrl("qrc:/qml/TextField.qml"), {
                myAccount: accountWindow, scf: 1, prop: prop
            })
            verify(field !== null)
            field.label = data.label
            field.value = data.value
            verify(field.editing)
            var input = findChild(field, "valueInput")
            verify(input.parent.visible)
            compare(input.text, data.value)
            compare(input.echoMode, TextInput.Normal)
            verify(!findChild(field, "valueText").parent.visible)
        }
    }
}
