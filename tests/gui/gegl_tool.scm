; tessaform:warp in GIMP's GEGL tool. scripts/gui_test.sh loads
; tests/e2e/lib.scm, tests/gui/path_dialog.scm (gui-fill, gui-squares) and this file; the
; batch makes a chart, renders
; plug-in-tessaform's layer for the corners the driver will pick (saved as
; $GUI_PICTURES/gegl-reference.png), shows the chart and tells the driver
; (the file $GUI_WORK/ready), then waits on the pipe $GUI_WORK/go until the
; driver has chosen Quadrangle Warp, picked the four corners on the canvas
; and pressed OK. The warped layer goes to $GUI_PICTURES/gegl-applied.png:
; the harness compares the two files.

; Where the driver clicks, in the chart's pixels (the chart sits at 0, 0).
(define gegl-corners '((30 20) (225 40) (200 170) (15 150)))

(define (gegl-chart)
  (let* ((image (car (gimp-image-new 240 180 RGB)))
         (chart (car (gimp-layer-new image 240 180 RGBA-IMAGE "Chart" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image chart 0 -1)
    (gui-squares image chart 8 28 24)
    ; A marker on the chart's first pixels: the driver finds the canvas's
    ; origin on the screen by it.
    (gui-fill image chart 0 0 4 4 '(255 0 255))
    (gimp-selection-none image)
    ; Nowhere else on the screen: not in the colour swatches either.
    (gimp-context-set-foreground '(0 0 0))
    (list image chart)))

(define (gegl-save-layer image layer name)
  (let ((file (string-append (getenv "GUI_PICTURES") "/" name ".png")))
    ; Colour under zero alpha is kept: the comparison covers every byte.
    (file-png-save2 RUN-NONINTERACTIVE image layer file file 0 9 0 0 0 0 0 0 1)))

(define (gegl-place layer)
  (list (gimp-drawable-offsets layer) (car (gimp-drawable-width layer))
        (car (gimp-drawable-height layer))))

; Blocks until the driver writes its word into the pipe.
(define (gegl-wait-for-driver)
  (let* ((port (open-input-file (string-append (getenv "GUI_WORK") "/go")))
         (word (read port)))
    (close-input-port port)
    word))

(define (e2e-cases)
  (let* ((scene (gegl-chart)) (image (car scene)) (chart (cadr scene))
         (copy (car (gimp-image-duplicate image)))
         (reference (tessaform copy (car (gimp-image-get-active-layer copy))
                               (rect 0 0 240 180) gegl-corners 2))
         (place (gegl-place reference))
         (shown (car (gimp-display-new image))))
    (gegl-save-layer copy reference "gegl-reference")
    (gimp-image-delete copy)
    (gimp-displays-flush)
    (let ((ready (open-output-file (string-append (getenv "GUI_WORK") "/ready"))))
      (display "ready" ready)
      (close-output-port ready))
    (group "Quadrangle Warp in the GEGL tool"
      (lambda ()
        (check "the driver chose the operation, picked the corners and pressed OK"
               'applied (gegl-wait-for-driver))
        (check "one layer still" 1 (length (layers-of image)))
        ; Clipping "Adjust": the layer now covers the plug-in layer's box.
        (check "the layer's offsets and size are the plug-in layer's" place
               (gegl-place chart))
        (gegl-save-layer image chart "gegl-applied")))
    (gimp-display-delete shown)))
