import QtQuick
import QtQuick.Layouts

// The processing window's screens. The window class writes the root's properties and answers its
// signals; the screens below only report to the root.
Item {
    id: process

    property real scf: 1
    property real uploadingPercent: 0
    property int downloading1Percent: 0
    property int downloading2Percent: 0
    property int remainingProcessingTime: 0
    property string fileName: "Some file name"
    property string currentLayer: "select_instrument"
    property string selectedInstrument: "none"
    property string selectedOutputFormat: "none"
    property string convertingText: "Converting to selected format"
    property string playerForVideo: "Default Video Player"
    property string playerForAudio: "Default Audio Player"
    property bool isVideo: true
    property int gradiendVar: 0
    // A file chosen from here is being checked: the window waits under its cover.
    property bool checking: false
    // Files queued behind this one (names), and what a finished queue came to (see SuccessProcess).
    property var waitingFiles: []
    property var batchSummary: []

    readonly property bool isBusy: ["uploading", "processing", "downloading", "converting"].indexOf(currentLayer) >= 0

    signal loaded()
    signal close()
    signal forceProcessAnotherFile()
    signal openAnotherFile()
    signal startProcess()
    signal getRemainsSeconds()
    signal openFinalFiles(string type)
    signal proceedAnotherFile()
    signal proceedAnotherInstrument()
    signal resetProccesing()
    signal changeLayerWithDelay(string l)
    signal cancelProcess()
    signal openResult(string path)
    // Sent after every remaining-time reply, so that an unchanged estimate still arms the next query.
    signal remainsArrived()

    implicitWidth: 470 * scf
    implicitHeight: 350 * scf

    onLoaded: gradientRefresh.restart()
    onForceProcessAnotherFile: openAnotherFile()
    onResetProccesing: processingFile.resetData()
    onRemainsArrived: processingFile.applyTimeRemains()
    onChangeLayerWithDelay: (l) => {
        layerDelay.layer = l
        layerDelay.restart()
    }
    // A layer set directly is newer than any delayed one still waiting.
    onCurrentLayerChanged: {
        if (!layerDelay.writing)
            layerDelay.stop()
    }

    Timer {
        id: layerDelay

        property string layer
        property bool writing: false

        interval: 800
        onTriggered: {
            writing = true
            process.currentLayer = layer
            writing = false
        }
    }

    // Fills that match the background need the final layout's positions.
    Timer {
        id: gradientRefresh
        interval: 20
        onTriggered: process.gradiendVar++
    }

    Properties { id: prop; scale: scf }
    Background { id: background }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 15 * scf
        spacing: 0

        Item { implicitHeight: 10 * scf }

        ProcessingHeader {
            objectName: "processingHeader"
            Layout.fillWidth: true
            visible: process.currentLayer === "select_instrument" || process.isBusy
            fileName: process.fileName
            choosing: process.currentLayer === "select_instrument"
            onHomeClicked: process.close()
            onSelectFileClicked: process.openAnotherFile()
        }

        Item {
            implicitHeight: 10 * scf
            visible: process.isBusy
        }

        SelectedItemsLabel {
            objectName: "selectedItemsLabel"
            Layout.alignment: Qt.AlignHCenter
            visible: process.isBusy
            instrument: process.selectedInstrument
            outputFormat: process.selectedOutputFormat
        }

        WaitingFiles {
            objectName: "waitingFiles"
            Layout.alignment: Qt.AlignHCenter
            Layout.topMargin: 4 * scf
            visible: files.length > 0 && (process.currentLayer === "select_instrument" || process.isBusy)
            files: process.waitingFiles
        }

        Item { Layout.fillHeight: true }

        SelectInstrument {
            objectName: "selectInstrument"
            Layout.alignment: Qt.AlignHCenter
            visible: process.currentLayer === "select_instrument" || process.currentLayer === "instrument_list"
            showList: process.currentLayer === "instrument_list"
            selectedInstrument: process.selectedInstrument
            selectedOutputFormat: process.selectedOutputFormat
            isVideo: process.isVideo
            onListRequested: process.currentLayer = "instrument_list"
            onInstrumentChosen: (name) => {
                process.currentLayer = "select_instrument"
                process.selectedInstrument = name
            }
            onFormatChosen: (format) => process.selectedOutputFormat = format
            onProcessClicked: process.startProcess()
        }

        UploadingFile {
            objectName: "uploadingFile"
            Layout.alignment: Qt.AlignHCenter
            visible: process.currentLayer === "uploading"
            percent: process.uploadingPercent
            onCancelClicked: process.cancelProcess()
        }

        ProcessingFile {
            id: processingFile
            objectName: "processingFile"
            Layout.alignment: Qt.AlignHCenter
            visible: process.currentLayer === "processing"
            timeRemains: process.remainingProcessingTime
            onGetRemainsSeconds: process.getRemainsSeconds()
            onCancelClicked: process.cancelProcess()
        }

        DownloadingFile {
            objectName: "downloadingFile"
            Layout.alignment: Qt.AlignHCenter
            visible: process.currentLayer === "downloading"
            instrument: process.selectedInstrument
            percent1: process.downloading1Percent
            percent2: process.downloading2Percent
            onCancelClicked: process.cancelProcess()
        }

        ConvertingFile {
            objectName: "convertingFile"
            Layout.alignment: Qt.AlignHCenter
            visible: process.currentLayer === "converting"
            text: process.convertingText
            onCancelClicked: process.cancelProcess()
        }

        SuccessProcess {
            objectName: "successProcess"
            Layout.fillWidth: true
            // Taller than the room below the top gap: it reaches into the bottom margin.
            Layout.minimumHeight: implicitHeight
            visible: process.currentLayer === "success"
            instrument: process.selectedInstrument
            selectedOutputFormat: process.selectedOutputFormat
            playerForVideo: process.playerForVideo
            playerForAudio: process.playerForAudio
            onHomeClicked: process.close()
            summary: process.batchSummary
            onOpenClicked: (type) => process.openFinalFiles(type)
            onOpenResultClicked: (path) => process.openResult(path)
            onIsolateAnotherClicked: process.proceedAnotherInstrument()
            onProcessAnotherClicked: process.proceedAnotherFile()
        }

        Item { Layout.fillHeight: true }
    }

    LoadingHover {
        objectName: "checkingCover"
        visible: process.checking
    }
}
