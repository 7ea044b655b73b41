// Paper sizes, the printer status message and the settings page's labels,
// one block per language, then the page's own script.
// Each paper row: name, "width;height;unit;paper id;" (unit 0 inches,
// otherwise centimetres), paper code.
// The driver reads the blocks as text, not as script: it finds a block by
// its name, then the first szPaperSizes after it, the list up to the first
// "]" and the first szStatusMsg before the block's "};". So the blocks come
// first, each begins with those two keys in that order, the labels follow
// them, and nothing else in this file names a block.
var sz0x0409 = {
  szPaperSizes : [ "4 x 6 in", "4.0;6.0;0;256;", 0, "5 x 7 in", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3.5 x 5 in", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "There is a problem with your printer.\nCheck your printer screen for more information.",
  szTitle : "Printing Preferences",
  szPaperLegend : "Paper size",
  szMetricUnit : "mm",
  szInchUnit : "in",
  szDecimalMark : ".",
  szSampleButton : "Print sample page",
  szOkButton : "OK",
  szCancelButton : "Cancel"
};

var sz0x040C = {
  szPaperSizes : [ "4 x 6 po", "4.0;6.0;0;256;", 0, "5 x 7 po", "5.0;7.0;0;257;", 1, "10 x 15 cm", "10.0;15.0;1;258;", 2, "3,5 x 5 po", "3.5;5.0;0;259;", 3 ],
  szStatusMsg : "Un problème est survenu sur l'imprimante.\nConsultez l'écran de l'imprimante.",
  szTitle : "Options d'impression",
  szPaperLegend : "Format du papier",
  szMetricUnit : "mm",
  szInchUnit : "po",
  szDecimalMark : ",",
  szSampleButton : "Imprimer une page d'essai",
  szOkButton : "OK",
  szCancelButton : "Annuler"
};

// The page runs in MSHTML's modal dialog (IE document mode "edge") and in a
// current browser, so it is plain ES5 and feature-tests what differs.
var larkSettings = (function () {
  var defaults = {
    szTitle: "Printing Preferences",
    szPaperLegend: "Paper size",
    szMetricUnit: "mm",
    szInchUnit: "in",
    szDecimalMark: ".",
    szSampleButton: "Print sample page",
    szOkButton: "OK",
    szCancelButton: "Cancel"
  };
  // The driver's slots: 256 rows, names of 63 and sizes of 31 characters.
  var maxRows = 256;
  var maxNameUnits = 63;
  var maxSpecUnits = 31;

  // Language tags as the browsers report them, to the Windows language
  // identifiers of the block names. A bare language stands for its primary
  // country, as Windows maps it.
  var languageIds = {
    "en-us": 0x0409, "en-gb": 0x0809, "en-au": 0x0C09, "en-ca": 0x1009, "en-ie": 0x1809,
    "fr-fr": 0x040C, "fr-be": 0x080C, "fr-ca": 0x0C0C, "fr-ch": 0x100C,
    "de-de": 0x0407, "de-ch": 0x0807, "de-at": 0x0C07,
    "it-it": 0x0410, "es-es": 0x0C0A, "es-mx": 0x080A, "nl-nl": 0x0413, "nl-be": 0x0813,
    "pt-br": 0x0416, "pt-pt": 0x0816, "da-dk": 0x0406, "sv-se": 0x041D, "nb-no": 0x0414,
    "fi-fi": 0x040B, "pl-pl": 0x0415, "cs-cz": 0x0405, "hu-hu": 0x040E, "el-gr": 0x0408,
    "tr-tr": 0x041F, "ru-ru": 0x0419, "ja-jp": 0x0411, "ko-kr": 0x0412,
    "zh-cn": 0x0804, "zh-tw": 0x0404,
    "en": 0x0409, "fr": 0x040C, "de": 0x0407, "it": 0x0410, "es": 0x0C0A, "nl": 0x0413,
    "pt": 0x0416, "da": 0x0406, "sv": 0x041D, "nb": 0x0414, "no": 0x0414, "fi": 0x040B,
    "pl": 0x0415, "cs": 0x0405, "hu": 0x040E, "el": 0x0408, "tr": 0x041F, "ru": 0x0419,
    "ja": 0x0411, "ko": 0x0412, "zh": 0x0804
  };

  function languageId(tag) {
    var t = String(tag || "").toLowerCase().replace(/_/g, "-");
    if (languageIds.hasOwnProperty(t)) return languageIds[t];
    var parts = t.split("-");
    if (parts.length > 1 && languageIds.hasOwnProperty(parts[0] + "-" + parts[parts.length - 1])) {
      return languageIds[parts[0] + "-" + parts[parts.length - 1]];
    }
    return languageIds.hasOwnProperty(parts[0]) ? languageIds[parts[0]] : 0x0409;
  }

  // The driver takes the language of the system (GetSystemDefaultLangID);
  // MSHTML tells it as navigator.systemLanguage, other browsers only know
  // the language of their user interface.
  function systemLanguageId() {
    var n = window.navigator;
    return languageId(n.systemLanguage || n.language || n.userLanguage || n.browserLanguage);
  }

  function blockName(id) {
    var hex = id.toString(16).toUpperCase();
    while (hex.length < 4) hex = "0" + hex;
    return "sz0x" + hex;
  }

  // The block of the language, else the US English one, as the driver
  // chooses.
  function languageBlock(id) {
    var block = window[blockName(id)];
    if (!block || typeof block !== "object") block = window[blockName(0x0409)];
    return block && typeof block === "object" ? block : {};
  }

  function label(block, key) {
    return typeof block[key] === "string" && block[key] !== "" ? block[key] : defaults[key];
  }

  // "%d": white space, a sign, digits; wraps to 32 bits as the driver's
  // conversion does. null when no number is there.
  function scanInt(text) {
    var m = /^\s*([+\-]?)(\d+)/.exec(text);
    if (!m) return null;
    var magnitude = 0;
    for (var i = 0; i < m[2].length; ++i) {
      magnitude = (magnitude * 10 + (m[2].charCodeAt(i) - 48)) % 4294967296;
    }
    return { value: (m[1] === "-" ? -magnitude : magnitude) | 0, length: m[0].length };
  }

  // "%f" of a decimal number, in single precision.
  function scanFloat(text) {
    var m = /^\s*[+\-]?(\d+\.?\d*|\.\d+)([eE][+\-]?\d+)?/.exec(text);
    return m ? { value: toSingle(parseFloat(m[0])), length: m[0].length } : null;
  }

  var single = typeof Float32Array !== "undefined" ? new Float32Array(1) : null;
  function toSingle(x) {
    if (!single) return x;
    single[0] = x;
    return single[0];
  }

  // Tenths of a millimetre as the driver hands them out: the product in
  // single precision, truncated, its low 16 bits as a signed number.
  function tenthsOfMm(value, inches) {
    var product = toSingle(value * (inches ? 254 : 100));
    if (!isFinite(product) || Math.abs(product) >= 9.2e18) return 0;
    var whole = product < 0 ? Math.ceil(product) : Math.floor(product);
    var low = ((whole % 65536) + 65536) % 65536;
    return low >= 32768 ? low - 65536 : low;
  }

  // "width;height;unit;paper id;" read from its first digit when that lies
  // among the first 20 characters; every field that does not convert keeps
  // its default, and so do the ones after it.
  function paperSize(spec, index) {
    var width = 4, height = 6, unit = 0, id = 256 + index;
    var at = 0;
    while (at < 20 && at < spec.length && !/\d/.test(spec.charAt(at))) ++at;
    if (at < 20 && /\d/.test(spec.charAt(at))) {
      var rest = spec.substring(at);
      var field = function (scan) {
        var r = scan(rest);
        if (r) rest = rest.substring(r.length);
        return r;
      };
      var semicolon = function () {
        if (rest.charAt(0) !== ";") return false;
        rest = rest.substring(1);
        return true;
      };
      var w = field(scanFloat);
      if (w) width = w.value;
      if (w && semicolon()) {
        var h = field(scanFloat);
        if (h) height = h.value;
        if (h && semicolon()) {
          var u = field(scanInt);
          if (u) unit = u.value;
          if (u && semicolon()) {
            var p = field(scanInt);
            if (p) id = p.value;
          }
        }
      }
    }
    return {
      width: tenthsOfMm(width, unit === 0),
      height: tenthsOfMm(height, unit === 0),
      id: ((id % 65536) + 65536) % 65536
    };
  }

  function paperRows(block) {
    var list = block.szPaperSizes;
    var rows = [];
    if (list && typeof list.length === "number") {
      for (var i = 0; i + 1 < list.length && rows.length < maxRows; i += 3) {
        var name = String(list[i]);
        if (name === "") break;
        var code = list[i + 2];
        if (typeof code !== "number") {
          var scanned = scanInt(String(code));
          code = scanned ? scanned.value : 0;
        }
        var size = paperSize(String(list[i + 1]).substring(0, maxSpecUnits), rows.length);
        rows.push({
          name: name.substring(0, maxNameUnits),
          code: code | 0,
          id: size.id,
          width: size.width,
          height: size.height
        });
      }
    }
    if (rows.length === 0) rows.push({ name: "Automatic", code: 0, id: 256, width: 1016, height: 1524 });
    return rows;
  }

  // The settings string's items, each "key=value" without its ";". A text
  // without a key and "=" is no item and is dropped, so that the answer is
  // well formed whatever came in; a last item without its ";" counts.
  function settingsItems(settings) {
    var pieces = typeof settings === "string" ? settings.split(";") : [];
    var items = [];
    for (var i = 0; i < pieces.length; ++i) {
      if (pieces[i].indexOf("=") > 0) items.push(pieces[i]);
    }
    return items;
  }

  function itemKey(item) {
    var equals = item.indexOf("=");
    return equals < 0 ? null : item.substring(0, equals);
  }

  function settingNumber(items, key) {
    for (var i = 0; i < items.length; ++i) {
      if (itemKey(items[i]) === key) {
        var n = scanInt(items[i].substring(key.length + 1));
        return n ? n.value : null;
      }
    }
    return null;
  }

  // The paper of key 1000, else the paper size of key 9900, else the first.
  function currentRow(rows, items) {
    var code = settingNumber(items, "1000");
    var id = settingNumber(items, "9900");
    var i;
    if (code !== null) {
      for (i = 0; i < rows.length; ++i) if (rows[i].code === code) return i;
    }
    if (id !== null) {
      for (i = 0; i < rows.length; ++i) if (rows[i].id === (id & 0xFFFF)) return i;
    }
    return 0;
  }

  // The paper item first, since the driver takes the first item for it, and
  // the paper size right after, since it reads the first "9900" it finds;
  // every other item follows as it came.
  function answerFor(settings, row) {
    var items = settingsItems(settings);
    var answer = "1000=" + row.code + ";9900=" + row.id + ";";
    for (var i = 0; i < items.length; ++i) {
      var key = itemKey(items[i]);
      if (key !== "1000" && key !== "9900") answer += items[i] + ";";
    }
    return answer;
  }

  // The exchange with the dialog: the settings string in, one answer out.
  function dialogSettings() {
    var argument = window.dialogArguments;
    return typeof argument === "string" ? argument : "";
  }

  function finish(answer) {
    if (answer !== null) window.returnValue = answer;
    window.close();
  }

  function listen(element, type, handler) {
    if (element.addEventListener) {
      element.addEventListener(type, handler, false);
    } else if (element.attachEvent) {
      element.attachEvent("on" + type, function () { return handler(window.event); });
    }
  }

  function setText(element, text) {
    while (element.firstChild) element.removeChild(element.firstChild);
    element.appendChild(document.createTextNode(text));
  }

  function sizeText(first, second, decimals, unit, mark) {
    return (first.toFixed(decimals) + " \u00D7 " + second.toFixed(decimals) + " " + unit)
      .replace(/\./g, mark);
  }

  function showRows(container, rows, current, block) {
    var mark = label(block, "szDecimalMark");
    for (var i = 0; i < rows.length; ++i) {
      var row = document.createElement("div");
      row.className = "paper";
      var radio = document.createElement("input");
      radio.type = "radio";
      radio.name = "paper";
      radio.id = "paper" + i;
      radio.value = String(i);
      radio.setAttribute("aria-describedby", "paper" + i + "-size");
      var name = document.createElement("label");
      name.htmlFor = radio.id;
      name.className = "name";
      setText(name, rows[i].name);
      var size = document.createElement("div");
      size.id = "paper" + i + "-size";
      size.className = "size";
      var metric = document.createElement("span");
      setText(metric, sizeText(rows[i].width / 10, rows[i].height / 10, 1,
                               label(block, "szMetricUnit"), mark));
      var inch = document.createElement("span");
      setText(inch, sizeText(rows[i].width / 254, rows[i].height / 254, 2,
                             label(block, "szInchUnit"), mark));
      size.appendChild(metric);
      size.appendChild(document.createTextNode(" "));
      size.appendChild(inch);
      row.appendChild(radio);
      row.appendChild(name);
      row.appendChild(size);
      container.appendChild(row);
      radio.checked = i === current;
      selectOnClick(row, radio);
    }
  }

  // The size line belongs to the row too: a click on it chooses the paper.
  function selectOnClick(row, radio) {
    listen(row, "click", function () {
      radio.checked = true;
    });
  }

  function chosenRow(rows) {
    for (var i = 0; i < rows.length; ++i) {
      var radio = document.getElementById("paper" + i);
      if (radio && radio.checked) return rows[i];
    }
    return rows[0];
  }

  // MSHTML opens the dialog at a size of its own; the page asks for the
  // size of its content.
  function fitDialog() {
    if (typeof window.dialogWidth !== "string") return;
    var body = document.body;
    window.dialogWidth = Math.max(body.scrollWidth, 360) + "px";
    window.dialogHeight = (body.scrollHeight + 8) + "px";
  }

  function start() {
    var block = languageBlock(systemLanguageId());
    var rows = paperRows(block);
    var settings = dialogSettings();
    var ids = ["szTitle", "szPaperLegend", "szSampleButton", "szOkButton", "szCancelButton"];
    for (var i = 0; i < ids.length; ++i) {
      setText(document.getElementById(ids[i]), label(block, ids[i]));
    }
    document.title = label(block, "szTitle");
    var current = currentRow(rows, settingsItems(settings));
    showRows(document.getElementById("papers"), rows, current, block);

    var ok = function () { finish(answerFor(settings, chosenRow(rows))); };
    var cancel = function () { finish(null); };
    listen(document.getElementById("szOkButton"), "click", ok);
    listen(document.getElementById("szCancelButton"), "click", cancel);
    listen(document.getElementById("szSampleButton"), "click", function () {
      finish("PrintSamplePage");
    });
    // Key codes, not key names: MSHTML names Escape "Esc".
    listen(document, "keydown", function (e) {
      var target = e.target || e.srcElement;
      if (e.keyCode === 27) {
        cancel();
      } else if (e.keyCode === 13 && !(target && target.tagName === "BUTTON")) {
        ok();
      } else {
        return true;
      }
      if (e.preventDefault) e.preventDefault();
      e.returnValue = false;
      return false;
    });
    fitDialog();
    document.getElementById("paper" + current).focus();
  }

  if (typeof window !== "undefined" && window.document) listen(window, "load", start);

  return {
    languageId: languageId,
    blockName: blockName,
    paperRows: paperRows,
    answerFor: answerFor
  };
})();
