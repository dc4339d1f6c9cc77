; The rectify procedure's dialog in GIMP's GUI. scripts/gui_test.sh loads
; tests/e2e/lib.scm, tests/gui/path_dialog.scm (gui-fill, gui-squares,
; gui-path, layer-bytes) and this file, and answers the dialog from
; outside: a width typed (the chain keeps the ratio) and OK the first time,
; Cancel the second.

; Where the chart lands on the wall: a 4 : 3 rectangle through a camera of
; focal length 420 pixels, turned 20 degrees about the horizontal axis and
; -35 about the vertical one, its principal point at the image's centre.
; The corners a person would click, top-left first.
(define rectify-quad '((236.6 63.8) (400.4 89.9) (359.3 223.7) (201.7 244.6)))

; A wall with a chart seen in perspective on it (GIMP's own perspective
; transform), flattened into one layer: the photograph.
(define (rectify-scene)
  (let* ((image (car (gimp-image-new 480 320 RGB)))
         (photo (car (gimp-layer-new image 480 320 RGB-IMAGE "Photo" 100 LAYER-MODE-NORMAL)))
         (chart (car (gimp-layer-new image 200 150 RGBA-IMAGE "Chart" 100 LAYER-MODE-NORMAL)))
         (q rectify-quad))
    (gimp-image-insert-layer image photo 0 -1)
    (gimp-image-insert-layer image chart 0 -1)
    (gui-fill image photo 0 0 480 320 '(214 206 190))
    (gui-squares image chart 6 24 20)
    (gimp-selection-none image)
    ; GIMP's order: top-left, top-right, bottom-left, bottom-right.
    (let ((warped (car (gimp-item-transform-perspective
                        chart (px (list-ref q 0)) (py (list-ref q 0))
                        (px (list-ref q 1)) (py (list-ref q 1))
                        (px (list-ref q 3)) (py (list-ref q 3))
                        (px (list-ref q 2)) (py (list-ref q 2))))))
      (car (gimp-image-merge-down image warped EXPAND-AS-NECESSARY)))
    (let ((merged (car (gimp-image-get-active-layer image))))
      (gimp-item-set-name merged "Photo")
      (list image merged))))

(define (e2e-cases)
  (let* ((scene (rectify-scene)) (image (car scene)) (photo (cadr scene))
         (path (gui-path image "Page corners" rectify-quad))
         (display (car (gimp-display-new image))))
    (gimp-displays-flush)
    (group "OK with a width typed: the height keeps the estimated ratio"
      (lambda ()
        (let* ((before (layers-of image))
               (answer (catch #f (plug-in-tessaform-rectify RUN-INTERACTIVE image photo
                                                            -1 0 0 0 0)))
               (after (layers-of image)))
          (check "answers with a layer" #t (and (pair? answer) (number? (car answer))))
          (check "one layer added, directly above the photograph"
                 (cons (car answer) before) after)
          (check "the width typed" 300 (car (gimp-drawable-width (car answer))))
          ; The dialog starts at cubic with anti-aliasing; a script asking
          ; for that width and no height gets the same layer.
          (let ((scripted (car (plug-in-tessaform-rectify RUN-NONINTERACTIVE image photo
                                                          path 300 0 2 1))))
            (check "as a script's call for the width alone (every 5th pixel)"
                   (layer-bytes scripted) (layer-bytes (car answer)))
            (gimp-image-remove-layer image scripted)))))
    (group "Cancel leaves the image as it was"
      (lambda ()
        (let* ((before (layers-of image))
               (answer (catch #f (plug-in-tessaform-rectify RUN-INTERACTIVE image photo
                                                            -1 0 0 0 0))))
          (check "the call answers no layer" (quote (#f)) answer)
          (check "no layer added" before (layers-of image)))))
    (gimp-display-delete display)))
