; Tessaform demo: a test chart, one corner of it warped onto a perspective
; quadrangle with each interpolation, written as PNG files into $DEMO_OUT.
(define out (getenv "DEMO_OUT"))
(define (path name) (string-append out "/" name ".png"))

(define (fill-rect image layer x y w h colour)
  (gimp-context-set-foreground colour)
  (gimp-image-select-rectangle image CHANNEL-OP-REPLACE x y w h)
  (gimp-drawable-edit-fill layer FILL-FOREGROUND))

(define (make-chart)
  (let* ((image (car (gimp-image-new 320 240 RGB)))
         (layer (car (gimp-layer-new image 320 240 RGBA-IMAGE "Chart" 100
                                     LAYER-MODE-NORMAL))))
    (gimp-image-insert-layer image layer 0 -1)
    (fill-rect image layer 0 0 320 240 '(250 250 245))
    (let loop ((i 0))
      (when (< i 48)
        (let ((cx (* 40 (modulo i 8))) (cy (* 40 (quotient i 8))))
          (fill-rect image layer (+ cx 8) (+ cy 8) 24 24
                     (list (* 30 (modulo i 8)) (* 40 (quotient i 8))
                           (- 230 (* 4 i))))
          (loop (+ i 1)))))
    ; Grid lines; an empty selection would fill everything, so every line
    ; stays inside the canvas.
    (let loop ((k 0))
      (when (<= k 8)
        (fill-rect image layer (min 318 (* 40 k)) 0 2 240 '(20 20 20))
        (when (<= k 6)
          (fill-rect image layer 0 (min 238 (* 40 k)) 320 2 '(20 20 20)))
        (loop (+ k 1))))
    (gimp-selection-none image)
    (list image layer)))

(define (save image drawable name)
  (file-png-save RUN-NONINTERACTIVE image drawable (path name) (path name)
                 0 9 0 0 0 0 0))

(define names '("nearest" "bilinear" "cubic" "lanczos"))

(let* ((chart (make-chart))
       (image (car chart))
       (source (cadr chart))
       (overview (car (gimp-image-new 1000 260 RGB)))
       (background (car (gimp-layer-new overview 1000 260 RGB-IMAGE "Paper"
                                        100 LAYER-MODE-NORMAL))))
  (save image source "chart")
  (gimp-image-insert-layer overview background 0 -1)
  (gimp-drawable-fill background FILL-WHITE)
  (let ((copy (car (gimp-layer-new-from-drawable source overview))))
    (gimp-image-insert-layer overview copy 0 -1)
    (gimp-layer-set-offsets copy 0 10))
  (let loop ((interp 0))
    (when (< interp 4)
      ; The chart's top-left 84 x 84 pixels onto a tilted quadrangle.
      (let* ((layer (car (plug-in-tessaform RUN-NONINTERACTIVE image source
                                            "Tessaform demo"
                                            0 0 84 0 84 84 0 84
                                            30 20 150 5 165 150 10 120
                                            interp 0 0)))
             (name (list-ref names interp)))
        (save image layer name)
        (let ((copy (car (gimp-layer-new-from-drawable layer overview))))
          (gimp-image-insert-layer overview copy 0 -1)
          (gimp-layer-set-offsets copy (+ 320 (* 170 interp)) 60))
        (loop (+ interp 1)))))
  (let ((flat (car (gimp-image-flatten overview))))
    (save overview flat "overview"))
  (gimp-image-delete image)
  (gimp-image-delete overview))
