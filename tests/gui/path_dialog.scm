; The path procedure's dialog in GIMP's GUI. scripts/gui_test.sh loads
; tests/e2e/lib.scm and this file, and answers the dialogs from outside:
; OK (Return) the first time, Cancel (Escape) the second, the perspective
; mapping chosen and OK the third.
; Pictures for the README go to $GUI_PICTURES.

(define gui-quad '((262 52) (452 92) (436 286) (248 272)))

(define (gui-fill image layer x y w h colour)
  (gimp-context-set-foreground colour)
  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE x y w h)
  (gimp-drawable-edit-fill layer FILL-FOREGROUND))

; A chart: a light ground and 48 coloured squares of `side` pixels, 8 across,
; every `step` pixels from (margin, margin).
(define (gui-squares image chart margin step side)
  (gui-fill image chart 0 0 (car (gimp-drawable-width chart))
            (car (gimp-drawable-height chart)) '(250 250 245))
  (for-each
   (lambda (i)
     (gui-fill image chart (+ margin (* step (modulo i 8))) (+ margin (* step (quotient i 8)))
               side side (list (* 30 (modulo i 8)) (* 40 (quotient i 8)) (- 230 (* 4 i)))))
   (iota 48)))

; A wall and a small chart to be hung on it.
(define (gui-scene)
  (let* ((image (car (gimp-image-new 480 320 RGB)))
         (wall (car (gimp-layer-new image 480 320 RGB-IMAGE "Wall" 100 LAYER-MODE-NORMAL)))
         (chart (car (gimp-layer-new image 200 150 RGBA-IMAGE "Chart" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image wall 0 -1)
    (gimp-image-insert-layer image chart 0 -1)
    (gimp-drawable-fill wall FILL-WHITE)
    (gui-fill image wall 0 0 480 320 '(214 206 190))
    (gui-squares image chart 6 24 20)
    (gimp-selection-none image)
    ; Moved only now: the selections above are in image coordinates.
    (gimp-layer-set-offsets chart 20 85)
    (list image chart)))

; The active path: one stroke through the anchors of `quad`.
(define (gui-path image name quad)
  (let* ((path (car (gimp-vectors-new image name)))
         (points (apply append (map (lambda (a) (append a a a)) quad))))
    (gimp-image-insert-vectors image path 0 -1)
    (gimp-vectors-stroke-new-from-points path 0 (length points)
                                         (list->vector (map exact->inexact points)) 1)
    (gimp-image-set-active-vectors image path)
    path))

(define (gui-save image name)
  (let* ((copy (car (gimp-image-duplicate image)))
         (flat (car (gimp-image-flatten copy)))
         (file (string-append (getenv "GUI_PICTURES") "/" name ".png")))
    (file-png-save RUN-NONINTERACTIVE copy flat file file 0 9 0 0 0 0 0)
    (gimp-image-delete copy)))

; The scene with the path's quadrangle outlined, as a person sees it.
(define (gui-save-before image path)
  (let* ((copy (car (gimp-image-duplicate image)))
         (outline (car (gimp-layer-new copy 480 320 RGBA-IMAGE "Outline" 100 LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer copy outline 0 -1)
    (gimp-image-select-polygon copy CHANNEL-OP-REPLACE 8 (list->vector (apply append gui-quad)))
    (gimp-selection-border copy 1)
    (gimp-context-set-foreground '(230 30 30))
    (gimp-drawable-edit-fill outline FILL-FOREGROUND)
    (gimp-selection-none copy)
    (let* ((flat (car (gimp-image-flatten copy)))
           (file (string-append (getenv "GUI_PICTURES") "/before.png")))
      (file-png-save RUN-NONINTERACTIVE copy flat file file 0 9 0 0 0 0 0))
    (gimp-image-delete copy)))

; Offsets, size and the bytes of every 5th pixel across and down: reading
; whole layers this size crashes Script-Fu in the GUI.
(define (layer-bytes layer)
  (let ((w (car (gimp-drawable-width layer))) (h (car (gimp-drawable-height layer))))
    (list (gimp-drawable-offsets layer) w h
          (map (lambda (y)
                 (map (lambda (x) (pixel-of layer (* 5 x) (* 5 y)))
                      (iota (quotient (+ w 4) 5))))
               (iota (quotient (+ h 4) 5))))))

(define (e2e-cases)
  (let* ((scene (gui-scene)) (image (car scene)) (chart (cadr scene))
         (path (gui-path image "Corners" gui-quad))
         (display (car (gimp-display-new image))))
    (gimp-displays-flush)
    (gui-save-before image path)
    (group "OK renders"
      (lambda ()
        (let* ((before (layers-of image))
               (answer (catch #f (plug-in-tessaform-path RUN-INTERACTIVE image chart -1 0 0)))
               (after (layers-of image)))
          (check "answers with a layer" #t (and (pair? answer) (number? (car answer))))
          (check "one layer added, directly above the chart" (cons (car answer) before) after)
          (check "its name" "Chart__" (car (gimp-item-get-name (car answer))))
          ; The dialog starts at bilinear, no anti-aliasing.
          (let ((main (tessaform image chart (rect 20 85 220 235) gui-quad 1)))
            (check "the same bytes as plug-in-tessaform, bilinear (every 5th pixel)"
                   (layer-bytes main) (layer-bytes (car answer)))
            (gimp-image-remove-layer image main))
          (gui-save image "after"))))
    (group "Cancel leaves the image as it was"
      (lambda ()
        (let* ((before (layers-of image))
               (pixels (layer-bytes chart))
               (answer (catch #f (plug-in-tessaform-path RUN-INTERACTIVE image chart -1 0 0))))
          ; Script-Fu reads a cancel as (#f), as it does PASS_THROUGH.
          (check "the call answers no layer" (quote (#f)) answer)
          (check "no layer added" before (layers-of image))
          (check "the chart unchanged" pixels (layer-bytes chart)))))
    (group "the mapping chosen is remembered"
      (lambda ()
        (let* ((bilinear (tessaform image chart (rect 20 85 220 235) gui-quad 1))
               (answer (catch #f (plug-in-tessaform-path RUN-INTERACTIVE image chart -1 0 0)))
               (chosen (and (pair? answer) (car answer))))
          (check "answers with a layer" #t (number? chosen))
          (check "perspective is not the bilinear map" #f
                 (equal? (layer-bytes bilinear) (layer-bytes chosen)))
          (let ((again (car (plug-in-tessaform-path RUN-WITH-LAST-VALS image chart path 3 1))))
            (check "last values repeat it" (layer-bytes chosen) (layer-bytes again))
            (gimp-image-remove-layer image again))
          ; A script's call stays bilinear whatever the dialog chose.
          (let ((scripted (car (plug-in-tessaform-path RUN-NONINTERACTIVE image chart path 1 0))))
            (check "a script's call stays bilinear" (layer-bytes bilinear) (layer-bytes scripted))
            (gimp-image-remove-layer image scripted))
          (gimp-image-remove-layer image bilinear)
          (gimp-image-remove-layer image chosen))))
    (gimp-display-delete display)))
