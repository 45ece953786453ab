import QtQuick
import QtQuick.Controls
import QtTest
import "qrc:/qml"
import "qrc:/qml/OS" as OS

// Hosts the kit the way a window document does: the kit finds scf, gradiendVar, prop, background
// and mainFunctions in the document that contains it.
Item {
    id: root
    width: 760
    height: 700

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

    // A sample of the kit as the windows combine it, below and right of the pieces tested above.
    Item {
        id: sample
        x: 0
        y: 380
        width: 760
        height: 320

        SectionLabel {
            id: sampleSection
            x: 20
            y: 10
            text: "OPTION SETTINGS"
        }

        Btn {
            x: 390
            y: 20
            iconName: "My Account"
            iconWidth: 140
            iconHeight: 28
        }

        Btn {
            x: 545
            y: 19
            iconName: "Help"
            iconWidth: 30
            iconHeight: 30
            isCustomHovered: true
        }

        Btn {
            x: 590
            y: 17
            iconName: "home"
            iconWidth: 35
            iconHeight: 35
            enabled: false
        }

        GroupBox {
            id: sampleGroup
            x: 20
            y: 85
            width: 440
            label: "Output Format"

            Dropdown {
                anchors.centerIn: parent
                width: 200
                model: ["MP3", "WAV", "FLAC"]
                currentIndex: 0
            }
        }

        ProgressBar {
            x: 20
            y: 180
            percents: 60
        }

        Row {
            x: 20
            y: 235
            spacing: 12

            TextBtn { width: 120; height: 36; text: "Normal" }
            TextBtn { width: 120; height: 36; text: "Hovered"; isCustomHovered: true }
            TextBtn { width: 120; height: 36; text: "Disabled"; enabled: false }
        }

        Btn {
            x: 480
            y: 85
            iconName: "open in"
            iconWidth: 130
            iconHeight: 130
            additionalIcon.source: "/icons/audio.svg"
            additionalIcon.sourceSize: Qt.size(80, 80)
            additionalIcon.y: 15
            label.text: "MP3"
            label.y: height - label.height - 15
        }

        Btn {
            x: 620
            y: 85
            iconName: "vocals"
            iconWidth: 130
            iconHeight: 130
        }
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

        function test_tooltipOnlyWithText() {
            mouseMove(button, 65, 65)
            tryCompare(button, "hovered", true)
            verify(!button.ToolTip.visible)
            button.tooltip = "Pick a media file"
            verify(button.ToolTip.visible)
            compare(button.ToolTip.text, "Pick a media file")
            mouseMove(root, 470, 100)
            tryCompare(button.ToolTip, "visible", false)
            button.tooltip = ""
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

    TestCase {
        name: "KitSample"
        when: windowShown

        // The window gradient's colour at a scene height, read beside the sample.
        function backgroundAt(image, y) {
            return image.pixel(root.width - 2, y)
        }

        function closeColours(a, b) {
            return Math.abs(a.r - b.r) < 0.03 && Math.abs(a.g - b.g) < 0.03 && Math.abs(a.b - b.b) < 0.03
        }

        function test_fillsBlendIntoBackground() {
            root.gradiendVar++
            var image = grabImage(root)
            // Inside the section label's frame and the group box's frame, left of their texts.
            var sectionInside = sampleSection.mapToItem(root, 6, sampleSection.height / 2)
            var groupInside = sampleGroup.mapToItem(root, 6, sampleGroup.height - 6)
            verify(closeColours(image.pixel(sectionInside.x, sectionInside.y), backgroundAt(image, sectionInside.y)))
            verify(closeColours(image.pixel(groupInside.x, groupInside.y), backgroundAt(image, groupInside.y)))
            // The frame line itself is lighter than the background.
            var frame = sampleSection.mapToItem(root, sampleSection.width / 2, 0)
            verify(!closeColours(image.pixel(frame.x, frame.y), backgroundAt(image, frame.y)))
            if (testHelper.screenshotDir !== "")
                image.save(testHelper.screenshotDir + "/kit.png")
        }
    }
}
