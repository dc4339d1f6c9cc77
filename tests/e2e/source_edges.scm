; Where the source drawable sits and where its edges are: layer offsets, a
; source quadrangle reaching past the drawable, a destination left of and
; above the canvas.

(define (e2e-source-layer type w h ox oy)
  (let* ((nch (channels-of-type type))
         (im (make-image 32 24 type w h ox oy #f)))
    (fill-drawable (cadr im) nch (pattern-value nch) #f)
    (append im (list (source ox oy w h nch (pattern-value nch))))))

(define (e2e-cases)
  (group "drawable with offsets"
    (lambda ()
      (let* ((im (e2e-source-layer RGBA-IMAGE 12 10 5 7))
             (image (car im)) (src (cadr im)) (s (caddr im))
             (from (rect 6 8 14 15))
             (to (rect 16 2 24 9))
             (layer (tessaform image src from to 0)))
        ; Stated directly: image pixel (x, y) comes from drawable pixel
        ; (x - 10 - 5, y + 6 - 7).
        (check "moved: pixel (16, 2) is drawable pixel (1, 1)"
               (map (lambda (c) ((pattern-value 4) 1 1 c)) (iota 4))
               (let ((o (gimp-drawable-offsets layer)))
                 (pixel-of layer (- 16 (car o)) (- 2 (cadr o)))))
        (check-new-layer "moved by (10, -6), nearest" image src layer from to 'nearest s #f)
        (let ((turned '((7.25 8.5) (15.5 9.25) (14.75 16.5) (6.5 15.75)))
              (to2 '((18.25 3.5) (26.5 8.75) (21.75 16.25) (13.5 11.25))))
          (check-new-layer "turned, bilinear" image src (tessaform image src turned to2 1)
                           turned to2 'bilinear s #f))
        (check-source-intact "source unchanged" src 4 (pattern-value 4) #f))))

  (group "source past the drawable"
    (lambda ()
      ; Right of the drawable: source columns 10 to 14 do not exist.
      (let* ((im (e2e-source-layer RGBA-IMAGE 10 10 0 0))
             (image (car im)) (src (cadr im)) (s (caddr im))
             (from (rect 4 2 14 8))
             (to (rect 20 12 30 18))
             (layer (tessaform image src from to 0))
             (o (gimp-drawable-offsets layer)))
        (check "image pixel (25, 14) is drawable pixel (9, 4)"
               (map (lambda (c) ((pattern-value 4) 9 4 c)) (iota 4))
               (pixel-of layer (- 25 (car o)) (- 14 (cadr o))))
        ; Source x 10.5 lies within a pixel of the drawable's right edge, which the
        ; source box test still accepts: the edge column is repeated once.
        (check "image pixel (26, 14), source x 10.5, repeats drawable pixel (9, 4)"
               (map (lambda (c) ((pattern-value 4) 9 4 c)) (iota 4))
               (pixel-of layer (- 26 (car o)) (- 14 (cadr o))))
        (check "image pixels (27..29, 14) are not written"
               '((0 0 0 0) (0 0 0 0) (0 0 0 0))
               (map (lambda (x) (pixel-of layer (- x (car o)) (- 14 (cadr o)))) '(27 28 29)))
        (check-new-layer "past the right edge" image src layer from to 'nearest s #f))
      ; Left of and above a drawable at offsets (6, 5).
      (let* ((im (e2e-source-layer GRAYA-IMAGE 10 10 6 5))
             (image (car im)) (src (cadr im)) (s (caddr im))
             (from (rect 2 1 12 9))
             (to (rect 20 2 30 10)))
        (check-new-layer "past the left and top edges" image src
                         (tessaform image src from to 0) from to 'nearest s #f)
        (check-new-layer "past the left and top edges, bilinear" image src
                         (tessaform image src from to 1) from to 'bilinear s #f))))

  (group "destination with negative coordinates"
    (lambda ()
      (let* ((im (e2e-source-layer RGB-IMAGE 16 12 0 0))
             (image (car im)) (src (cadr im)) (s (caddr im))
             (from (rect 2 2 12 10))
             (to (rect -12 -9 -2 -1))
             (layer (tessaform image src from to 0)))
        (check "offsets (-13, -10)" '(-13 -10) (gimp-drawable-offsets layer))
        (check-new-layer "moved by (-14, -11)" image src layer from to 'nearest s #f)
        (let ((to2 '((-9.5 -6.25) (4.25 -8.5) (6.75 3.25) (-7.25 5.5))))
          (check-new-layer "turned, reaching into the canvas" image src
                           (tessaform image src from to2 0) from to2 'nearest s #f))))))
