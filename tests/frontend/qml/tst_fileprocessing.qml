import QtQuick
import QtTest
import "qrc:/qml"

// The processing window's document as its window class drives it: root properties in, root
// signals out.
Item {
    id: root
    width: 470
    height: 350

    property Item doc: null

    readonly property var screens: ["processingHeader", "selectedItemsLabel", "selectInstrument", "instrumentList",
        "uploadingFile", "processingFile", "downloadingFile", "convertingFile", "successProcess"]

    Component {
        id: processingDocument
        FileProcessing { width: root.width; height: root.height }
    }

    SignalSpy { id: rootSpy; target: root.doc }
    SignalSpy { id: layerSpy; target: root.doc; signalName: "currentLayerChanged" }
    SignalSpy { id: querySpy; target: root.doc; signalName: "getRemainsSeconds" }

    TestCase {
        name: "FileProcessing"
        when: windowShown

        function init() {
            doc = createTemporaryObject(processingDocument, root)
            verify(doc !== null)
            for (var spy of [rootSpy, layerSpy, querySpy])
                spy.clear()
        }

        function child(name) {
            var found = findChild(doc, name)
            verify(found !== null, name)
            return found
        }

        function show(layer) {
            doc.currentLayer = layer
            waitForRendering(doc)
        }

        function test_layers_data() {
            var busy = ["processingHeader", "selectedItemsLabel"]
            return [
                { tag: "select_instrument", visible: ["processingHeader", "selectInstrument"], headerEnabled: true },
                { tag: "instrument_list", visible: ["selectInstrument", "instrumentList"] },
                { tag: "uploading", visible: busy.concat(["uploadingFile"]), headerEnabled: false },
                { tag: "processing", visible: busy.concat(["processingFile"]), headerEnabled: false },
                { tag: "downloading", visible: busy.concat(["downloadingFile"]), headerEnabled: false },
                { tag: "converting", visible: busy.concat(["convertingFile"]), headerEnabled: false },
                { tag: "success", visible: ["successProcess"] }
            ]
        }

        function test_layers(data) {
            doc.fileName = "Song.live.mp4"
            doc.selectedInstrument = "vocals"
            doc.selectedOutputFormat = "MP3"
            doc.uploadingPercent = 42.5
            doc.downloading1Percent = 100
            doc.downloading2Percent = 37
            doc.convertingText = "Converting 'vocals - file.wav'\nto selected output format"
            show(data.tag)
            doc.remainingProcessingTime = 95
            for (var name of screens)
                compare(child(name).visible, data.visible.indexOf(name) >= 0, name)
            compare(child("selectedItemsLabel").height, data.visible.indexOf("selectedItemsLabel") >= 0 ? 60 : 0)
            if (data.headerEnabled !== undefined) {
                compare(child("homeButton").enabled, data.headerEnabled)
                compare(child("selectFileSmallButton").enabled, data.headerEnabled)
            }
            if (testHelper.screenshotDir !== "") {
                doc.loaded()
                tryCompare(doc, "gradiendVar", 1)
                waitForRendering(doc)
                grabImage(root).save(testHelper.screenshotDir + "/processing-" + data.tag + ".png")
            }
        }

        function test_processNeedsBothChoices_data() {
            return [["bass", "none", false], ["none", "FLAC", false], ["bass", "FLAC", true]].map(
                ([instrument, format, enabled]) => ({ tag: instrument + ", " + format, instrument, format, enabled }))
        }

        function test_processNeedsBothChoices(data) {
            doc.selectedInstrument = data.instrument
            doc.selectedOutputFormat = data.format
            compare(child("processButton").enabled, data.enabled)
        }

        // The buttons that the window test does not press: PROCESS, the CANCELs and the success screen's
        // open and isolate buttons are pressed there.
        function test_buttonsSendRootSignals_data() {
            return [
                ["select_instrument", "homeButton", "close"],
                ["select_instrument", "selectFileSmallButton", "openAnotherFile"],
                ["success", "successHomeButton", "close"],
                ["success", "processAnotherButton", "proceedAnotherFile"]
            ].map(([layer, button, signal]) => ({ tag: button, layer, button, signal }))
        }

        function test_buttonsSendRootSignals(data) {
            doc.selectedInstrument = "drums"
            doc.selectedOutputFormat = "WAV"
            show(data.layer)
            rootSpy.signalName = data.signal
            mouseClick(child(data.button))
            compare(rootSpy.count, 1)
            compare(doc.currentLayer, data.layer)
        }

        function test_chooseInstrument_data() {
            return ["guitar", "vocals", "piano", "bass", "drums"].map(name => ({ tag: name, name: name }))
        }

        function test_chooseInstrument(data) {
            show("select_instrument")
            mouseClick(child("instrumentButton"))
            compare(doc.currentLayer, "instrument_list")
            waitForRendering(doc)
            mouseClick(child("instrument_" + data.name))
            compare(doc.currentLayer, "select_instrument")
            compare(doc.selectedInstrument, data.name)
            compare(child("instrumentButton").iconName, data.name)
        }

        // Videos get the six video formats before the six audio ones.
        function test_formatListOffersPreselectsAndSets_data() {
            return [[true, "none", -1], [true, "WEBM", 5], [false, "FLAC", 4]].map(([isVideo, format, index]) =>
                ({ tag: (isVideo ? "video, " : "audio, ") + format, isVideo, format, index }))
        }

        function test_formatListOffersPreselectsAndSets(data) {
            doc.isVideo = data.isVideo
            doc.selectedOutputFormat = data.format
            show("select_instrument")
            var list = child("formatList")
            var count = data.isVideo ? 12 : 6
            compare(list.count, count)
            compare(list.textAt(count - 6), "MP3")
            mouseClick(child("formatButton"))
            tryCompare(list.popup, "opened", true)
            compare(list.currentIndex, data.index)
            compare(list.highlightedIndex, data.index)
            if (data.format !== "none")
                return
            if (testHelper.screenshotDir !== "")
                grabImage(root).save(testHelper.screenshotDir + "/processing-format-list.png")
            mouseClick(list.popup.contentItem.itemAtIndex(2))
            compare(doc.selectedOutputFormat, "MOV")
            compare(child("formatButton").label.text, "MOV")
            compare(child("formatButton").iconName, "open in")
        }

        // From a video source, an audio format opens in the audio player.
        function test_audioOrVideoFormat_data() {
            return [["WAV", "Music Box", "audio"], ["MP4", "Movie Box", "video"]].map(
                ([format, player, icon]) => ({ tag: format, format, player, icon }))
        }

        function test_audioOrVideoFormat(data) {
            doc.isVideo = true
            doc.selectedInstrument = "piano"
            doc.selectedOutputFormat = data.format
            doc.playerForAudio = "Music Box"
            doc.playerForVideo = "Movie Box"
            var icon = child("formatButton").additionalIcon
            compare(String(icon.source), "/icons/" + data.icon + ".svg")
            tryCompare(icon, "status", Image.Ready)
            show("success")
            compare(child("openMainButton").label.text, "Open Piano In\n" + data.player)
            compare(child("openMixButton").label.text, "Open Mix In\n" + data.player)
        }

        // Only the newest layer request counts, delayed or direct.
        function test_newestLayerRequestWins() {
            show("processing")
            layerSpy.clear()
            doc.changeLayerWithDelay("downloading")
            doc.changeLayerWithDelay("converting")
            tryCompare(doc, "currentLayer", "converting", 2000)
            compare(layerSpy.count, 1)
            doc.changeLayerWithDelay("downloading")
            doc.currentLayer = "success"
            wait(900)
            compare(doc.currentLayer, "success")
        }

        function test_queryTimerRunsWhileShown() {
            var query = child("queryTimer")
            verify(!query.running)
            show("processing")
            verify(query.running)
            tryCompare(querySpy, "count", 1, 2000)
            show("uploading")
            verify(!query.running)
            // An estimate that arrives while the screen is hidden changes nothing.
            var screen = child("processingFile")
            var seconds = screen.seconds
            doc.remainingProcessingTime = 80
            doc.remainsArrived()
            compare(screen.seconds, seconds)
            compare(screen.totalSeconds, -1)
            verify(!query.running)
        }

        function test_queryIntervalFollowsEstimate_data() {
            return [[150, 60000], [60, 20000], [30, 5000], [10, 2000]].map(([remains, interval]) =>
                ({ tag: remains + " s", remains, interval }))
        }

        function test_queryIntervalFollowsEstimate(data) {
            show("processing")
            doc.remainingProcessingTime = data.remains
            var query = child("queryTimer")
            compare(query.interval, data.interval)
            verify(query.running)
            compare(child("processingFile").seconds, data.remains)
            compare(child("remainingText").text, "Approximate Time Remaining: " + Math.floor(data.remains / 60)
                    + ":" + String(data.remains % 60).padStart(2, "0"))
            // An unchanged estimate sends no change signal: its arrival alone must arm the next query.
            query.stop()
            doc.remainingProcessingTime = data.remains
            doc.remainsArrived()
            verify(query.running)
            compare(query.interval, data.interval)
        }

        function test_firstEstimateAfterATickSetsTotal() {
            show("processing")
            var screen = child("processingFile")
            tryCompare(screen, "seconds", 1, 2000)
            compare(screen.percent, 0)
            doc.remainingProcessingTime = 120
            doc.remainsArrived()
            compare(screen.totalSeconds, 120)
            compare(screen.seconds, 120)
            tryVerify(() => screen.percent > 0, 2000)
            doc.remainingProcessingTime = 90
            compare(screen.totalSeconds, 120)
            // Starting over forgets the total.
            doc.resetProccesing()
            compare(screen.seconds, -1)
            compare(screen.totalSeconds, -1)
            compare(screen.percent, 0)
            doc.remainingProcessingTime = 50
            compare(screen.totalSeconds, 50)
        }

        // A later estimate beyond the time left makes the total grow, keeping what is done: never below 0 %.
        function test_countdownFollowsLargerEstimate_data() {
            return [
                ["smaller later", 60, 40, 30, 60, "50.0"],
                ["larger later", 60, 40, 90, 110, "18.2"],
                ["larger before a tick", 60, 60, 120, 120, "0.0"],
                ["larger while held at one", 10, 1, 25, 34, "26.5"]
            ].map(([tag, first, left, later, total, percent]) => ({ tag, first, left, later, total, percent }))
        }

        function test_countdownFollowsLargerEstimate(data) {
            show("processing")
            var screen = child("processingFile")
            doc.remainingProcessingTime = data.first
            doc.remainsArrived()
            screen.seconds = data.left // the ticks meanwhile
            doc.remainingProcessingTime = data.later
            doc.remainsArrived()
            screen.additionalCalculating = 0
            compare(screen.totalSeconds, data.total)
            compare(screen.seconds, data.later)
            compare(child("processingText").text, "Processing file: " + data.percent + "%")
        }

        function test_countdownHoldsAtOne() {
            show("processing")
            var screen = child("processingFile")
            doc.remainingProcessingTime = 2
            tryCompare(screen, "seconds", 1, 3000)
            verify(!child("secondsTimer").running)
            compare(screen.percent, 50)
            compare(child("remainingText").text, "Approximate Time Remaining: 0:01")
            compare(child("processingText").text, "Processing file: 50.0%")
        }
    }
}
